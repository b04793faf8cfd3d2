// Looking records up by instance URN and listing them by product URN.
// Each query reads and validates the registry once and answers from that
// one parse.
#include "queries.h"

#include "c_boundary.h"
#include "record_fields.h"
#include "registry_cache.h"
#include "registry_file.h"

#include "strl.h"
#include "zorbel/support/fixed_text.h"
#include "zorbel/support/library_ptr.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using namespace zorbel;

// Every field element's text into the record, by element name; when a name
// occurs twice the later element wins.  The instance URN is not copied.
void read_record(xmlDoc *doc, xmlNode *record, zo_t &s)
{
    for_each_element(record, [&](xmlNode *n, std::string_view name) {
        if (name == uid_element) {
            s.installer_uid = parse_uid_text(text_for_field(doc, n, uid_text_width).get());
        } else if (const RecordField *f = text_field_named(name); f != nullptr && f->role != FieldRole::key) {
            store_field_text(f->in(s), text_for_field(doc, n, f->in(s).size()).get());
        }
    });
}

// The list with all of its buffers, allocated with malloc so that C
// callers may release it as well; null when any allocation fails.
UrnListPtr allocate_urn_list()
{
    UrnListPtr list(static_cast<char **>(calloc(ZO_MAX_INSTANCE_URNS, sizeof(char *))));
    if (!list)
        return nullptr;
    for (int i = 0; i < ZO_MAX_INSTANCE_URNS; ++i) {
        list[i] = static_cast<char *>(calloc(1, urn_width));
        if (list[i] == nullptr)
            return nullptr;
    }
    return list;
}

// Steps of zo_get before the registry is read: the checks, then the
// record cleared but for its instance URN.
int prepare_lookup(zo_t *s, const zo_env_t *env)
{
    if (!zo_is_initialized(env))
        return ZO_ERR_NOT_INIT;
    if (s == nullptr || s->instance_urn[0] == '\0')
        return ZO_ERR_MISSING_FIELD;
    if (field_overflows(s->instance_urn))
        return ZO_ERR_MAX_LEN_EXCEEDED;

    char urn[sizeof s->instance_urn];
    memcpy(urn, s->instance_urn, sizeof urn);
    memset(s, 0, sizeof *s);  // every byte, padding included
    memcpy(s->instance_urn, urn, sizeof urn);
    return ZO_ERR_NO_ERROR;
}

int read_found_record(xmlDoc *doc, xmlNode *record, zo_t *s)
{
    if (record == nullptr)
        return ZO_ERR_REC_NOT_FOUND;
    read_record(doc, record, *s);
    return ZO_ERR_NO_ERROR;
}

}  // namespace

namespace zorbel {

int find_instance_urn(xmlDocPtr doc, xmlNodePtr curr_node, const char *instance_urn)
{
    bool found = false;
    for_each_instance_urn(curr_node, [&](xmlNode *urn) { found = found || text_equals(doc, urn, instance_urn); });
    return found ? 1 : 0;
}

int find_product_urn(xmlDocPtr doc, xmlNodePtr curr_node, const char *product_urn, char *instance_urn)
{
    const std::span<char> work(instance_urn, urn_width);
    work[0] = '\0';
    bool matches = false;
    for_each_element(curr_node, [&](xmlNode *n, std::string_view name) {
        if (name == "product_urn")
            matches = matches || text_equals(doc, n, product_urn);
        else if (name == "instance_urn")
            copy_cut(work, xml::view(text_for_field(doc, n, work.size()).get()));
    });
    return matches ? 1 : 0;
}

zo_t served_record(xmlDoc *doc, xmlNode *record)
{
    zo_t s{};
    read_record(doc, record, s);
    for_each_element(record, [&](xmlNode *n, std::string_view name) {
        if (name != "instance_urn")
            return true;
        const xml::CharPtr text = text_for_field(doc, n, sizeof s.instance_urn);
        store_field_text(s.instance_urn, text.get());
        return !text;
    });
    return s;
}

xmlNode *first_record_with_urn(xmlDoc *doc, const char *instance_urn)
{
    xmlNode *found = nullptr;
    for_each_record(doc, [&](xmlNode *record) {
        if (find_instance_urn(doc, record, instance_urn))
            found = record;
        return found == nullptr;
    });
    return found;
}

int get_record(zo_t *s, zo_env_t *env, xml::DocPtr &doc, int fd)
{
    doc.reset();
    if (const int rc = prepare_lookup(s, env); rc != ZO_ERR_NO_ERROR)
        return rc;
    if (const int rc = load_valid_registry(env, doc, fd); rc != ZO_ERR_NO_ERROR)
        return rc;
    return read_found_record(doc.get(), first_record_with_urn(doc.get(), s->instance_urn), s);
}

}  // namespace zorbel

extern "C" int zo_get(zo_t *s, zo_env_t *env)
{
    return zorbel::c_entry([&]() -> int {
        if (const int rc = prepare_lookup(s, env); rc != ZO_ERR_NO_ERROR)
            return rc;
        RegistrySnapshot registry;
        if (const int rc = read_valid_registry(env, registry); rc != ZO_ERR_NO_ERROR)
            return rc;
        // A kept parse (shared with the cache) is looked up through its index.
        xmlDoc *doc = registry->doc.get();
        xmlNode *record = registry.use_count() > 1 ? registry->first_record(s->instance_urn)
                                                   : first_record_with_urn(doc, s->instance_urn);
        return read_found_record(doc, record, s);
    });
}

extern "C" int zo_get_instance_urns(const char *product_urn, char ***instance_urn_pp, zo_env_t *env)
{
    return zorbel::c_entry([&]() -> int {
        if (instance_urn_pp != nullptr)
            *instance_urn_pp = nullptr;
        if (!zo_is_initialized(env))
            return ZO_ERR_NOT_INIT;
        if (product_urn == nullptr || product_urn[0] == '\0' || instance_urn_pp == nullptr)
            return ZO_ERR_MISSING_FIELD;
        if (strnlen(product_urn, urn_width) >= urn_width)
            return ZO_ERR_MAX_LEN_EXCEEDED;

        UrnListPtr list = allocate_urn_list();
        if (!list)
            return ZO_ERR_NO_MEM;
        RegistrySnapshot registry;
        if (const int rc = read_valid_registry(env, registry); rc != ZO_ERR_NO_ERROR)
            return rc;
        xmlDoc *doc = registry->doc.get();

        int count = 0;
        bool too_many = false;
        char work[urn_width];
        for_each_record(doc, [&](xmlNode *record) {
            if (too_many || !find_product_urn(doc, record, product_urn, work))
                return;
            if (count == ZO_MAX_INSTANCE_URNS) {
                too_many = true;
                return;
            }
            strlcpy(list[count++], work, urn_width);
        });
        if (too_many)
            return ZO_ERR_MAX_REC_EXCEEDED;
        *instance_urn_pp = list.release();
        return count;
    });
}

extern "C" void zo_free_instance_urns(char **instance_urn)
{
    if (instance_urn == nullptr)
        return;
    for (int i = 0; i < ZO_MAX_INSTANCE_URNS; ++i)
        free(instance_urn[i]);
    free(instance_urn);
}
