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

ZO_API int         zo_initialize(const char *root_dir, zo_env_t *env);
ZO_API void        zo_close(zo_env_t *env);
ZO_API int         zo_is_initialized(const zo_env_t *env);
ZO_API const char *zo_get_registry_urn(void);
ZO_API const char *zo_error(int zo_err_no);
ZO_API void        zo_debug(const zo_env_t *env, const zo_t *s);
ZO_API int         zo_get(zo_t *s, zo_env_t *env);
ZO_API int         zo_get_instance_urns(const char *product_urn, char ***instance_urn_pp, zo_env_t *env);
ZO_API void        zo_free_instance_urns(char **instance_urn);
ZO_API int         zo_get_registry_doc(xmlDocPtr *xml_doc, zo_env_t *env);
ZO_API int         zo_get_registry_xml(char **xml_data, zo_env_t *env);
ZO_API void        zo_free_xml(char *xml_data);
ZO_API int         zo_add(zo_t *s, zo_env_t *env);
ZO_API int         zo_update(zo_t *s, zo_env_t *env);
ZO_API int         zo_delete(const char *instance_urn, zo_env_t *env);
ZO_API int         generate_urn(char *generated_urn, const char *nid);

#ifdef __cplusplus
}
#endif

#endif /* ZORBEL_H */
