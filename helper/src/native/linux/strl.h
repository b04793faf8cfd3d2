// Bounded copy and append with the BSD semantics.  The C library's own
// are used where it declares them; otherwise strl.cpp provides them.
#pragma once

#include <stddef.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef ZORBEL_HAVE_STRLCPY
size_t strlcpy(char *dst, const char *src, size_t size);
#endif
#ifndef ZORBEL_HAVE_STRLCAT
size_t strlcat(char *dst, const char *src, size_t size);
#endif

#ifdef __cplusplus
}
#endif
