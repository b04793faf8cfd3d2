#include "base64.h"

#include <cassert>
#include <cctype>
#include <cstring>

namespace {

constexpr char Base64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char Pad64 = '=';

char alphabet(unsigned index)
{
    assert(index < 64);
    return Base64[index];
}

bool is_space(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The alphabet index of `c`, or -1.
int value_of(char c)
{
    if (c == '\0')
        return -1;
    const char *pos = std::strchr(Base64, c);
    return pos == nullptr ? -1 : static_cast<int>(pos - Base64);
}

}  // namespace

int b64_ntop(const unsigned char *src, size_t srclength, char *target, size_t targsize)
{
    size_t datalength = 0;
    while (srclength >= 3) {
        const unsigned group = (src[0] << 16) | (src[1] << 8) | src[2];
        src += 3;
        srclength -= 3;
        if (datalength + 4 > targsize)
            return -1;
        target[datalength++] = alphabet(group >> 18);
        target[datalength++] = alphabet((group >> 12) & 0x3f);
        target[datalength++] = alphabet((group >> 6) & 0x3f);
        target[datalength++] = alphabet(group & 0x3f);
    }
    if (srclength != 0) {
        const unsigned group = (src[0] << 16) | (srclength == 2 ? src[1] << 8 : 0);
        if (datalength + 4 > targsize)
            return -1;
        target[datalength++] = alphabet(group >> 18);
        target[datalength++] = alphabet((group >> 12) & 0x3f);
        target[datalength++] = srclength == 1 ? Pad64 : alphabet((group >> 6) & 0x3f);
        target[datalength++] = Pad64;
    }
    if (datalength >= targsize)
        return -1;
    target[datalength] = '\0';
    return static_cast<int>(datalength);
}

int b64_pton(const char *src, unsigned char *target, size_t targsize)
{
    int state = 0;
    size_t tarindex = 0;
    char ch;
    while ((ch = *src++) != '\0') {
        if (is_space(ch))
            continue;
        if (ch == Pad64)
            break;
        const int v = value_of(ch);
        if (v < 0)
            return -1;
        const auto bits = static_cast<unsigned>(v);
        switch (state) {
        case 0:
            if (target) {
                if (tarindex >= targsize)
                    return -1;
                target[tarindex] = static_cast<unsigned char>(bits << 2);
            }
            state = 1;
            break;
        case 1:
            if (target) {
                if (tarindex + 1 >= targsize)
                    return -1;
                target[tarindex] |= static_cast<unsigned char>(bits >> 4);
                target[tarindex + 1] = static_cast<unsigned char>((bits & 0x0f) << 4);
            }
            ++tarindex;
            state = 2;
            break;
        case 2:
            if (target) {
                if (tarindex + 1 >= targsize)
                    return -1;
                target[tarindex] |= static_cast<unsigned char>(bits >> 2);
                target[tarindex + 1] = static_cast<unsigned char>((bits & 0x03) << 6);
            }
            ++tarindex;
            state = 3;
            break;
        default:
            if (target) {
                if (tarindex >= targsize)
                    return -1;
                target[tarindex] |= static_cast<unsigned char>(bits);
            }
            ++tarindex;
            state = 0;
            break;
        }
    }

    if (ch != Pad64)  // end of text without padding: whole groups only
        return state == 0 ? static_cast<int>(tarindex) : -1;

    ch = *src++;  // the character after the first "="
    switch (state) {
    case 0:
    case 1:
        return -1;
    case 2:
        while (is_space(ch))
            ch = *src++;
        if (ch != Pad64)
            return -1;
        ch = *src++;
        [[fallthrough]];
    default:
        for (; ch != '\0'; ch = *src++)
            if (!is_space(ch))
                return -1;
        // The bits beyond the last whole byte must be zero.
        if (target && target[tarindex] != 0)
            return -1;
    }
    return static_cast<int>(tarindex);
}
