#include "ownership.h"

#include "record_fields.h"
#include "queries.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

// The user id of the system account allowed to change every record.
bool zorbel_account_uid(uid_t &uid)
{
    std::vector<char> buffer(4096);
    for (int tries = 0; tries < 8; ++tries) {
        struct passwd pw {};
        struct passwd *found = nullptr;
        const int rc = getpwnam_r("zorbel", &pw, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE) {  // an unusually long entry: retry with more room
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || found == nullptr)
            return false;
        uid = found->pw_uid;
        return true;
    }
    return false;
}

}  // namespace

int zorbel::is_authorized(const std::string &owner)
{
    const uid_t caller = getuid();
    if (caller == 0)
        return 1;
    uid_t account = 0;
    if (zorbel_account_uid(account) && account == caller)
        return 1;
    return owner == zorbel::uid_text(caller) ? 1 : 0;
}

std::string zorbel::record_owner(xmlDocPtr doc, xmlNodePtr record)
{
    using namespace zorbel;
    std::string owner;
    for_each_element(record, [&](xmlNode *n, std::string_view name) {
        if (name == uid_element)
            owner = xml::view(text_for_field(doc, n, uid_text_width).get());
    });
    return owner;
}

int zorbel::count_records_by_uid(xmlDocPtr doc, xmlNodePtr root_node, const char *uid)
{
    using namespace zorbel;
    int count = 0;
    for_each_element(root_node, [&](xmlNode *record, std::string_view name) {
        if (name != "zorbel")
            return;
        for_each_element(record, [&](xmlNode *n, std::string_view field) {
            count += field == uid_element && text_equals(doc, n, uid);
        });
    });
    return count;
}
