// Decodes arbitrary text as base64, with and without a target, and checks
// that what decodes encodes back to text that decodes to the same bytes.
#include "base64.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the target size; the rest is the text.
    const size_t targsize = data[0];
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    std::vector<unsigned char> small(targsize ? targsize : 1);
    std::vector<unsigned char> big(text.size() + 1);

    const int counted = b64_pton(text.c_str(), nullptr, 0);
    const int in_small = b64_pton(text.c_str(), targsize ? small.data() : nullptr, targsize);
    const int decoded = b64_pton(text.c_str(), big.data(), big.size());
    if (decoded >= 0 && counted != decoded)
        abort();
    if (in_small >= 0 && targsize && (in_small != decoded || std::memcmp(small.data(), big.data(), size_t(in_small))))
        abort();
    if (decoded < 0)
        return 0;

    std::vector<char> encoded(4 * (size_t(decoded) / 3 + 1) + 1);
    const int length = b64_ntop(big.data(), size_t(decoded), encoded.data(), encoded.size());
    if (length < 0 || size_t(length) != std::strlen(encoded.data()))
        abort();
    std::vector<unsigned char> again(size_t(decoded) + 1);
    if (b64_pton(encoded.data(), again.data(), again.size()) != decoded ||
        std::memcmp(again.data(), big.data(), size_t(decoded)) != 0)
        abort();
    return 0;
}
