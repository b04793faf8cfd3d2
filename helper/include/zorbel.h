/*
 * zorbel.h - registry of installed product instances.
 *
 * One XML file of product-instance records below a root directory,
 * validated against its DTD on every read.  Every entry point returns
 * ZO_ERR_NO_ERROR (0) or a negative ZO_ERR_ code; zo_error() names it.
 */
#ifndef ZORBEL_H
#define ZORBEL_H

#include <libxml/tree.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define ZO_API __attribute__((visibility("default")))
#else
#define ZO_API
#endif

#define ZO_MAX_INSTANCE_URNS 256
#define ZO_MAX_RECS_PER_USER 500

enum {
    ZO_ERR_NO_ERROR = 0,
    ZO_ERR_ALREADY_INIT = -32000,
    ZO_ERR_NOT_INIT = -32001,
    ZO_ERR_GEN_UUID = -32002,
    ZO_ERR_NO_MEM = -32005,
    ZO_ERR_NO_DIR = -32010,
    ZO_ERR_NOT_AUTH = -32011,
    ZO_ERR_XML_PARSE = -32020,
    ZO_ERR_XML_EMPTY_DOC = -32021,
    ZO_ERR_XML_NEW_DOC = -32022,
    ZO_ERR_XML_NEW_NODE = -32023,
    ZO_ERR_XML_CREATE_SUB = -32024,
    ZO_ERR_XML_SAVE_REG = -32025,
    ZO_ERR_XML_INVALID_REG = -32026,
    ZO_ERR_DUP_REC = -32030,
    ZO_ERR_REC_NOT_FOUND = -32031,
    ZO_ERR_MISSING_FIELD = -32032,
    ZO_ERR_MAX_LEN_EXCEEDED = -32033,
    ZO_ERR_MAX_REC_EXCEEDED = -32035,
    ZO_ERR_FILE_ERR = -32050,
    ZO_ERR_LOCKF_ERR = -32051,
    ZO_ERR_MAX_REC_PER_USER_EXCEEDED = -32052
};

enum {
    ZO_NOT_INITIALIZED = 0,
    ZO_INITIALIZED = 1
};

/* The handle of one registry; zero it before zo_initialize(). */
typedef struct zo_env_struct {
    char root_dir[4096];
    char registry_path[4096];
    char registry[4351];
    char registry_urn[256];
    char registry_version[64];
    int initialized_flag;
} zo_env_t;

/* One product-instance record; every width includes the terminating NUL. */
typedef struct zo_struct {
    char instance_urn[256];
    char product_name[256];
    char product_version[64];
    char product_urn[256];
    char product_parent_urn[256];
    char product_parent[256];
    char product_defined_inst_id[256];
    char product_vendor[64];
    char platform_arch[64];
    char timestamp[25];
    char container[64];
    char source[64];
    int installer_uid;
} zo_t;

/* Every function returning int gives ZO_ERR_NO_ERROR (0) or a count on
 * success and a negative ZO_ERR_ code on failure; zo_error() names it. */

/* Opens (creating on first use) the registry below root_dir (NULL or empty:
 * "/") and fills env, which the caller owns; env is usable until zo_close(). */
ZO_API int         zo_initialize(const char *root_dir, zo_env_t *env);
/* Marks env as not initialised and drops what the library keeps for it;
 * env itself stays the caller's.  Closing the last environment open in the
 * process also releases the XML library's global parser state. */
ZO_API void        zo_close(zo_env_t *env);
/* ZO_INITIALIZED when env came from a successful zo_initialize(), else
 * ZO_NOT_INITIALIZED. */
ZO_API int         zo_is_initialized(const zo_env_t *env);
/* The registry URN of the last successful zo_initialize() in this process;
 * static storage, never freed by the caller. */
ZO_API const char *zo_get_registry_urn(void);
/* The message for a ZO_ERR_ code; static storage. */
ZO_API const char *zo_error(int zo_err_no);
/* Writes env's paths and the record's fields, one "name=value" line each,
 * to standard output; either pointer may be NULL. */
ZO_API void        zo_debug(const zo_env_t *env, const zo_t *s);
/* Fills s with the record whose instance URN s->instance_urn holds. */
ZO_API int         zo_get(zo_t *s, zo_env_t *env);
/* The instance URNs of the records carrying product_urn: returns their
 * count and sets *instance_urn_pp to a list that the caller owns and
 * releases with zo_free_instance_urns() (only on success). */
ZO_API int         zo_get_instance_urns(const char *product_urn, char ***instance_urn_pp, zo_env_t *env);
/* Releases a list from zo_get_instance_urns(); NULL is allowed. */
ZO_API void        zo_free_instance_urns(char **instance_urn);
/* A validated copy of the registry document: on success the caller owns
 * *xml_doc and releases it with xmlFreeDoc(). */
ZO_API int         zo_get_registry_doc(xmlDocPtr *xml_doc, zo_env_t *env);
/* The registry as NUL-terminated XML text: on success the caller owns
 * *xml_data and releases it with zo_free_xml(). */
ZO_API int         zo_get_registry_xml(char **xml_data, zo_env_t *env);
/* Releases text from zo_get_registry_xml(); NULL is allowed. */
ZO_API void        zo_free_xml(char *xml_data);
/* Adds the record s, generating its instance URN (written back into s)
 * when it is empty. */
ZO_API int         zo_add(zo_t *s, zo_env_t *env);
/* Stores s's product_parent_urn and product_defined_inst_id in the record
 * with s->instance_urn, then reads the stored record back into s. */
ZO_API int         zo_update(zo_t *s, zo_env_t *env);
/* Removes the record with this instance URN. */
ZO_API int         zo_delete(const char *instance_urn, zo_env_t *env);
/* Writes "urn:<nid>:<new UUID>" into generated_urn (256 bytes, owned by
 * the caller); ZO_ERR_NO_ERROR, or ZO_ERR_GEN_UUID. */
ZO_API int         generate_urn(char *generated_urn, const char *nid);

#ifdef __cplusplus
}
#endif

#endif /* ZORBEL_H */
