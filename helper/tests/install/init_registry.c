/* Initialises the registry below the root given as argument and prints
 * its URN: what any C program linking the installed library does first. */
#include <zorbel.h>
#include <zorbel_uuid.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
    zo_env_t env;
    uuid_t uuid;
    char text[37];
    int rc;

    if (argc != 2) {
        fprintf(stderr, "usage: %s root\n", argv[0]);
        return 2;
    }
    memset(&env, 0, sizeof env);
    rc = zo_initialize(argv[1], &env);
    if (rc != ZO_ERR_NO_ERROR) {
        fprintf(stderr, "zo_initialize: %s\n", zo_error(rc));
        return 1;
    }
    if (!zo_is_initialized(&env) || !uuid_create(&uuid)) {
        fprintf(stderr, "not initialised, or no UUID\n");
        return 1;
    }
    uuid_tostring(&uuid, text);
    if (strlen(text) != 36 || strcmp(zo_get_registry_urn(), env.registry_urn) != 0) {
        fprintf(stderr, "unexpected UUID text or registry URN\n");
        return 1;
    }
    printf("%s\n", zo_get_registry_urn());
    zo_close(&env);
    return 0;
}
