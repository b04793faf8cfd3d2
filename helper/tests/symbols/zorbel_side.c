/* A program linked with both libuuid and libzorbel, which share the name
 * uuid_compare (with different types): the plain name is libuuid's, used
 * by the other half (uuid_side.c); this half reaches libzorbel's by its
 * version, and libzorbel's own calls stay inside it even where the program
 * defines a function of the same name. */
#define _GNU_SOURCE
#include <zorbel.h>
#include <zorbel_uuid.h>

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

int libuuid_works(void);

typedef int compare_fn(const uuid_t *, const uuid_t *);

static int check(int ok, const char *what)
{
    if (!ok)
        fprintf(stderr, "two_uuid_libraries: %s\n", what);
    return ok;
}

int main(void)
{
    uuid_t a, b;
    char text[37], urn[64];
    static const byte program_node[6] = {0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
    compare_fn *compare = NULL;
    void *found = dlvsym(RTLD_DEFAULT, "uuid_compare", "ZORBEL_1");
    int ok = check(libuuid_works(), "libuuid's functions");
    ok &= check(found != NULL, "no uuid_compare@ZORBEL_1");
    if (!ok)
        return 1;
    memcpy(&compare, &found, sizeof compare);
    ok &= check(uuid_create(&a) == 1, "uuid_create");
    uuid_tostring(&a, text);
    ok &= check(uuid_fromstring(&b, text) == 0, "uuid_fromstring");
    ok &= check(compare(&a, &b) == 0, "libzorbel's uuid_compare of equal UUIDs");
    memset(&a, 0, sizeof a);
    memset(&b, 0, sizeof b);
    a.time_low = 1;
    b.time_low = 0x02000000;
    ok &= check(compare(&a, &b) < 0, "libzorbel's uuid_compare reads the fields");
    /* The node is the one libzorbel derives itself, not the program's. */
    ok &= check(uuid_create(&a) == 1 && memcmp(a.node, program_node, sizeof program_node) != 0,
                "uuid_create used the program's get_ieee_node_identifier");
    ok &= check(generate_urn(urn, "zo") == ZO_ERR_NO_ERROR && strncmp(urn, "urn:zo:", 7) == 0, "generate_urn");
    return ok ? 0 : 1;
}
