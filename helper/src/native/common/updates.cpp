// Adding, updating and deleting records.  Each writer holds the registry
// lock from before its lookup until the new registry is in place, so two
// writers never work from the same old content, and it reads the registry
// only through the locked descriptor.
#include "c_boundary.h"
#include "registry_file.h"
#include "ownership.h"
#include "record_fields.h"
#include "queries.h"
#include "registry_write.h"
#include "timestamp.h"

#include "strl.h"
#include "zorbel/support/fixed_text.h"

#include <unistd.h>

#include <cstring>

namespace {

using namespace zorbel;

// The last stage of every writer.  A lock that could not be taken is only
// reported here, after every other check has passed; a value that no XML
// document can hold is refused rather than written into a registry that
// would then no longer parse.
int save_changes(const zo_env_t *env, const RegistryLock &lock, xmlDoc *doc, bool storable)
{
    if (lock.status() != ZO_ERR_NO_ERROR)
        return lock.status();
    if (!storable)
        return ZO_ERR_XML_SAVE_REG;
    return save_registry(env, lock.fd(), doc);
}

// The writers' lookup: zo_get on a scratch record holding only the URN,
// through the locked descriptor.  `doc` keeps the registry as validated.
int find_record_under_lock(const char *instance_urn, zo_env_t *env, const RegistryLock &lock, zo_t &scratch,
            xml::DocPtr &doc)
{
    scratch = zo_t{};
    strlcpy(scratch.instance_urn, instance_urn, sizeof scratch.instance_urn);
    return get_record(&scratch, env, doc, lock.fd());
}

// Required fields present, then every field within its width.
int check_new_record(zo_t &s)
{
    for (const RecordField &f : record_text_fields) {
        if (f.role == FieldRole::required && f.in(s)[0] == '\0')
            return ZO_ERR_MISSING_FIELD;
    }
    for (const RecordField &f : record_text_fields) {
        const bool checked = f.role == FieldRole::required || f.role == FieldRole::optional;
        if (checked && field_overflows(f.in(s)))
            return ZO_ERR_MAX_LEN_EXCEEDED;
    }
    return ZO_ERR_NO_ERROR;
}

// The registry read through the lock for an add: the document the lookup
// validated when there is one, otherwise a plain parse.
int registry_for_add(const zo_env_t *env, const RegistryLock &lock, xml::DocPtr &doc)
{
    return doc ? ZO_ERR_NO_ERROR : parse_registry(env, doc, lock.fd());
}

// Replaces an element's content with `text`, stored literally.
void set_text(xmlNode *element, const char *text)
{
    xmlNodeSetContent(element, nullptr);
    xmlNodeAddContent(element, xml::xc(text));
}

// Appends the record's 13 elements, in file order, to `record`; true when
// every value can be stored.
bool append_fields(xmlNode *record, zo_t &s, const std::string &uid)
{
    bool storable = true;
    for (const RecordField &f : record_text_fields) {
        const std::string_view text = field_text(f.in(s));
        storable = storable && storable_text(text);
        xmlNewTextChild(record, nullptr, xml::xc(f.name.data()), xml::xc(text.data()));
    }
    xmlNewTextChild(record, nullptr, xml::xc(uid_element.data()), xml::xc(uid.c_str()));
    return storable;
}

// The stored record changed for the caller: the new parent URN and
// product-defined id where given, a new time stamp and owner; every other
// value read back into `s`.  Elements the record lacks are not added.
void update_record(xmlDoc *doc, xmlNode *record, zo_t &s)
{
    for_each_element(record, [&](xmlNode *n, std::string_view name) {
        if (name == uid_element) {
            s.installer_uid = uid_as_int(getuid());
            set_text(n, uid_text(getuid()).c_str());
            return;
        }
        const RecordField *f = text_field_named(name);
        if (f == nullptr || f->role == FieldRole::key)
            return;
        const std::span<char> field = f->in(s);
        if (f->role == FieldRole::stamp) {
            get_timestamp(field.data());
            set_text(n, field.data());
        } else if (f->role == FieldRole::optional && field[0] != '\0') {
            set_text(n, field.data());
        } else {
            store_field_text(field, text_for_field(doc, n, field.size()).get());
        }
    });
}

// The course zo_update and zo_delete share: lock, look the record up
// through the lock (any failure there means it is not found), check that
// the caller may change it, let change(doc, record) alter the document,
// save.  `change` returns false when the result could not be stored.
template <class Change>
int change_record(const char *instance_urn, zo_env_t *env, Change change)
{
    const RegistryLock lock(env);
    xml::DocPtr doc;
    zo_t stored;
    if (find_record_under_lock(instance_urn, env, lock, stored, doc) != ZO_ERR_NO_ERROR)
        return ZO_ERR_REC_NOT_FOUND;
    xmlNode *record = first_record_with_urn(doc.get(), instance_urn);
    if (record == nullptr)
        return ZO_ERR_REC_NOT_FOUND;
    if (!is_authorized(record_owner(doc.get(), record)))
        return ZO_ERR_NOT_AUTH;
    const bool storable = change(doc.get(), record);
    return save_changes(env, lock, doc.get(), storable);
}

}  // namespace
extern "C" int zo_add(zo_t *s, zo_env_t *env)
{
    return zorbel::c_entry([&]() -> int {
        if (!zo_is_initialized(env))
            return ZO_ERR_NOT_INIT;
        if (s == nullptr)
            return ZO_ERR_MISSING_FIELD;
        if (field_overflows(s->instance_urn))
            return ZO_ERR_MAX_LEN_EXCEEDED;

        const RegistryLock lock(env);
        xml::DocPtr doc;
        zo_t scratch;
        if (find_record_under_lock(s->instance_urn, env, lock, scratch, doc) == ZO_ERR_NO_ERROR)
            return ZO_ERR_DUP_REC;
        if (const int rc = check_new_record(*s); rc != ZO_ERR_NO_ERROR)
            return rc;
        if (const int rc = registry_for_add(env, lock, doc); rc != ZO_ERR_NO_ERROR)
            return rc;
        xmlNode *root = xmlDocGetRootElement(doc.get());

        const uid_t installer = getuid();
        const std::string owner = uid_text(installer);
        s->installer_uid = uid_as_int(installer);
        if (count_records_by_uid(doc.get(), root, owner.c_str()) >= ZO_MAX_RECS_PER_USER)
            return ZO_ERR_MAX_REC_PER_USER_EXCEEDED;

        xml::NodePtr record(xmlNewDocNode(doc.get(), nullptr, xml::xc("zorbel"), nullptr));
        if (!record)
            return ZO_ERR_XML_NEW_NODE;
        if (s->instance_urn[0] == '\0') {
            if (const int rc = generate_urn(s->instance_urn, "zo"); rc != ZO_ERR_NO_ERROR)
                return rc;
        }
        get_timestamp(s->timestamp);
        const bool storable = append_fields(record.get(), *s, owner);
        xmlAddChild(root, record.release());
        return save_changes(env, lock, doc.get(), storable);
    });
}

extern "C" int zo_update(zo_t *s, zo_env_t *env)
{
    return zorbel::c_entry([&]() -> int {
        if (!zo_is_initialized(env))
            return ZO_ERR_NOT_INIT;
        if (s == nullptr || s->instance_urn[0] == '\0' ||
            (s->product_parent_urn[0] == '\0' && s->product_defined_inst_id[0] == '\0'))
            return ZO_ERR_MISSING_FIELD;
        if (field_overflows(s->instance_urn) || field_overflows(s->product_parent_urn) ||
            field_overflows(s->product_defined_inst_id))
            return ZO_ERR_MAX_LEN_EXCEEDED;

        return change_record(s->instance_urn, env, [s](xmlDoc *doc, xmlNode *record) {
            const bool storable = storable_text(field_text(s->product_parent_urn)) &&
                                  storable_text(field_text(s->product_defined_inst_id));
            update_record(doc, record, *s);
            return storable;
        });
    });
}

extern "C" int zo_delete(const char *instance_urn, zo_env_t *env)
{
    return zorbel::c_entry([&]() -> int {
        if (!zo_is_initialized(env))
            return ZO_ERR_NOT_INIT;
        if (instance_urn == nullptr || instance_urn[0] == '\0')
            return ZO_ERR_MISSING_FIELD;
        if (strnlen(instance_urn, urn_width) >= urn_width)
            return ZO_ERR_MAX_LEN_EXCEEDED;

        return change_record(instance_urn, env, [](xmlDoc *, xmlNode *record) {
            xmlUnlinkNode(record);
            xmlFreeNode(record);
            return true;
        });
    });
}
