// Feeds arbitrary bytes to the library as the registry file: first use on
// a fresh root, then a lookup, a listing by product and a copy of the whole
// registry.  Every call must return (within the fuzzer's time and memory
// limits, which a registry whose entities expand without bound would
// exceed) and hand out only what it may.
#include "zorbel.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

std::string scratch_root, registry_file;

void remove_scratch_root()
{
    std::error_code ec;
    std::filesystem::remove_all(scratch_root, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    scratch_root = std::filesystem::temp_directory_path() / ("registry-fuzz-" + std::to_string(getpid()));
    std::atexit(remove_scratch_root);
    const std::string dir = scratch_root + "/var/sadm/zorbel/registry";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(ZORBEL_FUZZ_DTD, dir + "/zorbel.dtd",
                               std::filesystem::copy_options::overwrite_existing);
    registry_file = dir + "/zorbel.xml";
    // The corpus names its DTD as "zorbel.dtd", found beside the registry.
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    {
        std::ofstream out(registry_file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
    }
    zo_env_t env{};
    if (zo_initialize(scratch_root.c_str(), &env) != ZO_ERR_NO_ERROR)
        return 0;
    if (strnlen(env.registry_urn, sizeof env.registry_urn) >= sizeof env.registry_urn)
        abort();

    zo_t s{};
    strcpy(s.instance_urn, "urn:zo:1");
    if (zo_get(&s, &env) == ZO_ERR_NO_ERROR &&
        strnlen(s.product_name, sizeof s.product_name) >= sizeof s.product_name)
        abort();

    char **urns = nullptr;
    const int count = zo_get_instance_urns("urn:p", &urns, &env);
    if (count > ZO_MAX_INSTANCE_URNS || (count >= 0) != (urns != nullptr))
        abort();
    for (int i = 0; i < count; ++i)
        if (strnlen(urns[i], 256) >= 256)
            abort();
    zo_free_instance_urns(urns);

    char *text = nullptr;
    if (zo_get_registry_xml(&text, &env) == ZO_ERR_NO_ERROR && text == nullptr)
        abort();
    zo_free_xml(text);
    zo_close(&env);
    return 0;
}
