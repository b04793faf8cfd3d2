/* Adds, reads, lists, updates and deletes a record, and copies the
 * registry, through the installed headers and library: the write and read
 * sides as a C program linking the library uses them. */
#include <zorbel.h>

#include <stdio.h>
#include <string.h>

static int check(int ok, const char *what)
{
    if (!ok)
        fprintf(stderr, "records: %s\n", what);
    return ok;
}

int main(int argc, char **argv)
{
    zo_env_t env;
    zo_t rec, back;
    char **urns = NULL;
    char *xml = NULL;
    xmlDocPtr doc = NULL;
    int ok = 1;

    if (argc != 2) {
        fprintf(stderr, "usage: %s root\n", argv[0]);
        return 2;
    }
    memset(&env, 0, sizeof env);
    if (!check(zo_initialize(argv[1], &env) == ZO_ERR_NO_ERROR, "zo_initialize"))
        return 1;

    memset(&rec, 0, sizeof rec);
    strcpy(rec.product_name, "C program");
    strcpy(rec.product_version, "1.0");
    strcpy(rec.product_urn, "urn:product:c");
    strcpy(rec.product_parent, "Suite");
    strcpy(rec.product_vendor, "Vendor");
    strcpy(rec.platform_arch, "x86_64");
    strcpy(rec.container, "pkg");
    strcpy(rec.source, "/media");
    ok &= check(zo_add(&rec, &env) == ZO_ERR_NO_ERROR, "zo_add");
    ok &= check(strncmp(rec.instance_urn, "urn:zo:", 7) == 0, "generated URN");

    memset(&back, 0, sizeof back);
    strcpy(back.instance_urn, rec.instance_urn);
    ok &= check(zo_get(&back, &env) == ZO_ERR_NO_ERROR && strcmp(back.product_name, "C program") == 0 &&
                    back.installer_uid == rec.installer_uid,
                "zo_get");
    ok &= check(zo_get_instance_urns("urn:product:c", &urns, &env) == 1 && urns != NULL &&
                    strcmp(urns[0], rec.instance_urn) == 0,
                "zo_get_instance_urns");
    zo_free_instance_urns(urns);

    strcpy(back.product_parent_urn, "R&D");
    ok &= check(zo_update(&back, &env) == ZO_ERR_NO_ERROR, "zo_update");
    memset(&back, 0, sizeof back);
    strcpy(back.instance_urn, rec.instance_urn);
    ok &= check(zo_get(&back, &env) == ZO_ERR_NO_ERROR && strcmp(back.product_parent_urn, "R&D") == 0,
                "updated value");

    ok &= check(zo_get_registry_xml(&xml, &env) == ZO_ERR_NO_ERROR && xml != NULL &&
                    strncmp(xml, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 38) == 0 &&
                    strstr(xml, rec.instance_urn) != NULL,
                "zo_get_registry_xml");
    zo_free_xml(xml);
    ok &= check(zo_get_registry_doc(&doc, &env) == ZO_ERR_NO_ERROR && xmlDocGetRootElement(doc) != NULL,
                "zo_get_registry_doc");
    xmlFreeDoc(doc);

    ok &= check(zo_delete(rec.instance_urn, &env) == ZO_ERR_NO_ERROR, "zo_delete");
    ok &= check(zo_get(&back, &env) == ZO_ERR_REC_NOT_FOUND, "deleted record gone");
    zo_close(&env);
    if (ok)
        printf("records: ok\n");
    return ok ? 0 : 1;
}
