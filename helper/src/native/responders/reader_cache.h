// What the library offers the responders, which link it statically,
// beyond its public C interface: one validated parse of the registry
// that several answers can share.
#pragma once

#include "zorbel/support/xml_ptr.h"
#include "zorbel.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace zorbel {

struct ValidRegistry {
    xml::DocPtr doc;               // parsed and validated; never changed once kept
    std::uint64_t generation = 0;  // different for every parse in the process
    std::string registry_urn;      // the root's "urn" and "version"
    std::string registry_version;

    // The first record, in document order, that carries this instance URN
    // (as first_record_with_urn finds it), from an index built on first use:
    // a kept parse answers many lookups.
    xmlNode *first_record(const char *instance_urn);

private:
    std::once_flag indexed_;
    std::unordered_map<std::string, xmlNode *> first_by_urn_;
};
// A caller holding the only reference (use_count() == 1) may take the
// document apart; a kept one is shared and must stay as it is.
using RegistrySnapshot = std::shared_ptr<ValidRegistry>;

// Long-running readers (the responders) turn the cache on; every other
// caller of the library reads the file afresh on every query.
void set_registry_cache(bool enabled);

// The registry validated against its DTD, with env's registry URN and
// version refreshed from it.  ZO_ERR_NO_ERROR with `out` set, or
// ZO_ERR_XML_INVALID_REG.
int read_valid_registry(zo_env_t *env, RegistrySnapshot &out);

// A record element of a parse as zo_get serves it: every field read as
// zo_get reads it, and the instance URN from the record's first
// "instance_urn" element that has text (empty when none has).
zo_t served_record(xmlDoc *doc, xmlNode *record);

}  // namespace zorbel
