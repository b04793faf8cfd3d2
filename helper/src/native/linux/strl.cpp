// strlcpy and strlcat for C libraries that lack them.
#include "strl.h"

#ifndef ZORBEL_HAVE_STRLCPY
extern "C" size_t strlcpy(char *dst, const char *src, size_t size)
{
    const size_t len = strlen(src);
    if (size != 0) {
        const size_t n = len < size ? len : size - 1;
        memcpy(dst, src, n);
        dst[n] = '\0';
    }
    return len;
}
#endif

#ifndef ZORBEL_HAVE_STRLCAT
extern "C" size_t strlcat(char *dst, const char *src, size_t size)
{
    const size_t slen = strlen(src);
    if (size == 0)
        return slen;
    const void *nul = memchr(dst, '\0', size);
    if (nul == nullptr)
        return size + slen;
    const size_t dlen = static_cast<size_t>(static_cast<const char *>(nul) - dst);
    const size_t room = size - dlen - 1;
    const size_t n = slen < room ? slen : room;
    memcpy(dst + dlen, src, n);
    dst[dlen + n] = '\0';
    return dlen + slen;
}
#endif
