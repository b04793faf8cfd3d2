/* The half of the two-library program that uses libuuid: its uuid_t is an
 * array of 16 bytes and its uuid_compare takes two of them. */
#include <uuid/uuid.h>

#include <string.h>

int libuuid_works(void)
{
    uuid_t a, b, c;
    char text[37];
    uuid_generate_time(a);
    uuid_unparse_lower(a, text);
    if (strlen(text) != 36 || uuid_parse(text, b) != 0 || uuid_compare(a, b) != 0)
        return 0;
    /* libuuid reads time_low as a big-endian number: 0x01000000 after
     * 0x00000002 (read in the host's order, the other way round). */
    memset(b, 0, sizeof b);
    memset(c, 0, sizeof c);
    b[0] = 1;
    c[3] = 2;
    return uuid_compare(b, c) > 0;
}

/* A function of the program's own that happens to carry the name of one of
 * libzorbel's: the library's own calls must not reach it. */
void get_ieee_node_identifier(unsigned char node[6])
{
    memset(node, 0xee, 6);
}
