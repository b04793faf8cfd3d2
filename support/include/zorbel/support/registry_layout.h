// Where a registry lies below a root directory, and which DTD a new
// registry names: the library, the programs and their diagnostics all
// compose these paths here.
#pragma once

#include <string>
#include <string_view>

namespace zorbel::layout {

inline constexpr std::string_view registry_subdir = "var/sadm/zorbel/registry";
inline constexpr std::string_view registry_name = "zorbel.xml";
inline constexpr std::string_view dtd_name = "zorbel.dtd";
// The format version a new registry carries.
inline constexpr std::string_view format_version = "1.1.4";
// The DTD that registries for the root "/" name, whatever the prefix.
inline constexpr std::string_view standard_dtd = "/opt/quesk/zorbel/share/xml/dtd/zorbel.dtd";

// The registry directory below `root` (taken as text: "/" gets no second slash).
inline std::string registry_dir(std::string_view root)
{
    std::string dir(root);
    if (root != "/")
        dir += '/';
    return dir.append(registry_subdir);
}

inline std::string registry_file(std::string_view root)
{
    return registry_dir(root).append("/").append(registry_name);
}

// The DTD a new registry below `root` names: the standard one for "/",
// else zorbel.dtd in the registry directory.
inline std::string new_registry_dtd(std::string_view root)
{
    return root == "/" ? std::string(standard_dtd) : registry_dir(root).append("/").append(dtd_name);
}

}  // namespace zorbel::layout
