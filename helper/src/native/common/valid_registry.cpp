// The index of a kept parse: instance URN to its first record.
#include "reader_cache.h"

#include "zorbel/support/record_walk.h"

namespace zorbel {

xmlNode *ValidRegistry::first_record(const char *instance_urn)
{
    std::call_once(indexed_, [this] {
        xmlDoc *d = doc.get();
        for_each_record(d, [&](xmlNode *record) {
            for_each_instance_urn(record, [&](xmlNode *urn) {
                if (const xml::CharPtr text = xml::node_text(d, urn))
                    first_by_urn_.try_emplace(std::string(xml::view(text.get())), record);
            });
        });
    });
    const auto it = first_by_urn_.find(instance_urn);
    return it == first_by_urn_.end() ? nullptr : it->second;
}

}  // namespace zorbel
