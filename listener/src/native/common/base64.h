// Base64 (the standard alphabet, "=" padding, no line breaks).
#pragma once

#include <cstddef>

// Encodes `srclength` bytes into `target` (`targsize` bytes, NUL added).
// Returns the number of characters written, or -1 when they and the NUL
// do not fit.
int b64_ntop(const unsigned char *src, size_t srclength, char *target, size_t targsize);

// Decodes the NUL-terminated text `src` into `target` (`targsize` bytes;
// with a null target nothing is written and the decoded length is only
// counted).  Whitespace is skipped.  Returns the number of bytes decoded,
// or -1 when the text is not valid base64 or the bytes do not fit.
int b64_pton(const char *src, unsigned char *target, size_t targsize);
