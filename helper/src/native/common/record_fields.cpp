#include "record_fields.h"

#include "zorbel/support/fixed_text.h"

#include <libxml/chvalid.h>
#include <libxml/xmlstring.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zorbel {

void store_field_text(std::span<char> field, const xmlChar *text)
{
    std::fill(field.begin(), field.end(), '\0');
    copy_cut(field, xml::view(text));
}

int parse_uid_text(const xmlChar *text)
{
    if (text == nullptr)
        return -1;
    errno = 0;
    const long long value = strtoll(reinterpret_cast<const char *>(text), nullptr, 10);
    return errno == ERANGE || value < INT_MIN || value > INT_MAX ? -1 : static_cast<int>(value);
}

std::string uid_text(uid_t uid)
{
    return std::to_string(uid);
}

int uid_as_int(uid_t uid)
{
    return uid > static_cast<uid_t>(INT_MAX) ? -1 : static_cast<int>(uid);
}

namespace {

// Bytes the shortest UTF-8 form of a code point takes; the parser refuses
// any longer form.
int shortest_utf8_length(int c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

}  // namespace

bool storable_text(std::string_view text)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    size_t left = text.size();
    while (left > 0) {
        int len = static_cast<int>(std::min<size_t>(left, 4));
        const int c = xmlGetUTF8Char(p, &len);
        if (c < 0 || len != shortest_utf8_length(c) || !xmlIsCharQ(c))
            return false;
        p += len;
        left -= static_cast<size_t>(len);
    }
    return true;
}

}  // namespace zorbel
