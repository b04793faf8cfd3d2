// Line-oriented I/O on a connected stream socket, and XML escaping.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

inline constexpr int SOCK_PRINTF_LEN = 16384;

// Reads one line into `s` (`n` bytes, at least 1), one byte per read so
// nothing after the line feed leaves the socket.  Returns `s` without the
// line feed, or null at end of stream before the first byte or on a read
// error.  A line of `n` bytes or more yields its first n - 1 bytes.
char *sock_gets(int sockfd, char *s, int n);

// Formats one piece (at most 16383 bytes) and sends it.  `encrypt_buf`
// marks body pieces; it changes nothing.  0 on success, -1 on a
// formatting or send failure.
int sock_printf(int sockfd, int encrypt_buf, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Sends `piece` as sock_printf sends a formatted one, without its 16383
// byte bound.  0 on success, -1 on a send failure.
int sock_write(int sockfd, std::string_view piece);

// Escapes `in` for XML element content into `output` (max_encode_len
// bytes, always terminated): "<" and ">" become entities, "&" becomes
// "&amp;" unless it starts "&lt;", "&gt;" or "&amp;".  Text that does not
// fit is cut before the first item that would not fit.
void encode_chars(const char *in, char *output, int max_encode_len);

namespace zorbel::tavish {

using Clock = std::chrono::steady_clock;

// sock_gets that gives up at `deadline`: returns null when no complete
// line arrived by then (and sets `*timed_out`).
char *sock_gets_until(int sockfd, char *s, int n, Clock::time_point deadline, bool *timed_out = nullptr);

// Escapes `in` for a double-quoted attribute value: encode_chars, then
// '"' as "&quot;".
std::string encode_attribute(std::string_view in);

// While one of these lives, the socket is corked and sock_printf on it
// collects its pieces in memory; they leave in large sends when the
// buffer fills and when the batch ends.  The bytes on the wire are the
// same as with one send per piece.  Given `capture`, nothing is sent: the
// pieces are appended there for the caller to send.
class ResponseBatch {
public:
    explicit ResponseBatch(int sockfd, std::string *capture = nullptr);
    ResponseBatch(const ResponseBatch &) = delete;
    ResponseBatch &operator=(const ResponseBatch &) = delete;
    ~ResponseBatch();

    enum class Collected { no_batch, taken, failed };
    // Used by sock_printf: takes the piece when a batch for `sockfd` is
    // open (`failed` once a send of that batch has failed).
    static Collected collect(int sockfd, std::string_view piece);

private:
    void flush();

    int fd_;
    bool failed_ = false;
    int error_ = 0;  // errno of the failed send
    std::string pending_;
    std::string *capture_;
    ResponseBatch *outer_;
};

}  // namespace zorbel::tavish
