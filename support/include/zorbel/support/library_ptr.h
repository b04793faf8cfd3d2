// Owning pointers for what the registry library hands out, each released
// with the library's own function.
#pragma once

#include "zorbel.h"

#include <memory>

namespace zorbel {

struct UrnListDeleter {
    void operator()(char **list) const noexcept { zo_free_instance_urns(list); }
};
struct XmlTextDeleter {
    void operator()(char *text) const noexcept { zo_free_xml(text); }
};

// A list from zo_get_instance_urns (ZO_MAX_INSTANCE_URNS buffers).
using UrnListPtr = std::unique_ptr<char *[], UrnListDeleter>;
// The text from zo_get_registry_xml.
using XmlTextPtr = std::unique_ptr<char, XmlTextDeleter>;

}  // namespace zorbel
