#include "socket_io.h"

#include "globals.h"
#include "xml_chars.h"
#include "zorbel/support/byte_transfer.h"
#include "zorbel/support/deadline.h"
#include "zorbel/support/log_escape.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <optional>

using zorbel::escape_for_log;

namespace zorbel::tavish {
namespace {

constexpr size_t batch_flush_size = 64 * 1024;

ResponseBatch *active_batch = nullptr;

// Reads one byte.  1: a byte, 0: end of stream, -1: error (errno set),
// -2: the deadline passed first.  With a deadline the descriptor is polled
// before each read, which serves sockets and other descriptors alike.
int read_byte(int fd, char *c, const std::optional<Clock::time_point> &deadline)
{
    for (;;) {
        if (deadline) {
            pollfd p{fd, POLLIN, 0};
            const int ready = poll(&p, 1, poll_timeout_ms(*deadline));
            if (ready == 0)
                return -2;
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
        }
        const ssize_t r = read(fd, c, 1);
        if (r >= 0)
            return static_cast<int>(r);
        if (errno != EINTR)
            return -1;
    }
}

char *read_line(int sockfd, char *s, int n, const std::optional<Clock::time_point> &deadline,
                bool *timed_out)
{
    if (timed_out)
        *timed_out = false;
    if (n < 1)
        return nullptr;
    for (int i = 0; i < n; ++i) {
        const int r = read_byte(sockfd, &s[i], deadline);
        if (r == -2) {
            s[i] = '\0';
            if (timed_out)
                *timed_out = true;
            return nullptr;
        }
        if (r < 0) {
            if (tavish_verbose >= 1)
                perror("read");
            return nullptr;
        }
        if (r == 0 || s[i] == '\n') {
            s[i] = '\0';
            if (r == 0 && i == 0)
                return nullptr;
            if (tavish_verbose >= 2)
                fprintf(stderr, "sock_gets: %s\n", escape_for_log(std::string_view(s, i)).c_str());
            return s;
        }
    }
    if (tavish_verbose >= 2)
        fputs("warning: sock_gets reached end of buffer, truncation likely\n", stderr);
    s[n - 1] = '\0';
    return s;
}

void set_cork(int fd, int on)
{
    // Fails harmlessly on sockets that are not TCP.
    setsockopt(fd, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

}  // namespace

char *sock_gets_until(int sockfd, char *s, int n, Clock::time_point deadline, bool *timed_out)
{
    return read_line(sockfd, s, n, deadline, timed_out);
}

std::string encode_attribute(std::string_view in)
{
    const std::string text = xml_chars(in.substr(0, std::min(in.find('\0'), in.size())));
    std::string escaped(text.size() * 5 + 1, '\0');
    encode_chars(text.c_str(), escaped.data(), static_cast<int>(escaped.size()));
    escaped.resize(std::strlen(escaped.c_str()));
    std::string out;
    out.reserve(escaped.size());
    for (const char c : escaped) {
        if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

ResponseBatch::ResponseBatch(int sockfd, std::string *capture) : fd_(sockfd), capture_(capture), outer_(active_batch)
{
    active_batch = this;
    if (capture_ == nullptr)
        set_cork(fd_, 1);
}

ResponseBatch::~ResponseBatch()
{
    flush();
    if (capture_ == nullptr)
        set_cork(fd_, 0);
    active_batch = outer_;
}

ResponseBatch::Collected ResponseBatch::collect(int sockfd, std::string_view piece)
{
    ResponseBatch *batch = active_batch;
    while (batch != nullptr && batch->fd_ != sockfd)
        batch = batch->outer_;
    if (batch == nullptr)
        return Collected::no_batch;
    if (batch->failed_) {
        // Each piece after a failed send fails in turn, and says so.
        if (tavish_verbose >= 1) {
            errno = batch->error_;
            perror("send");
        }
        return Collected::failed;
    }
    if (batch->capture_ != nullptr) {
        batch->capture_->append(piece);
        return Collected::taken;
    }
    batch->pending_.append(piece);
    if (batch->pending_.size() >= batch_flush_size)
        batch->flush();
    return batch->failed_ ? Collected::failed : Collected::taken;
}

void ResponseBatch::flush()
{
    const size_t sent = failed_ ? pending_.size() : transfer_all(pending_.size(), [&](size_t at) {
        return send(fd_, pending_.data() + at, pending_.size() - at, MSG_NOSIGNAL);
    });
    if (sent < pending_.size()) {
        error_ = errno;
        if (tavish_verbose >= 1)
            perror("send");
        failed_ = true;
    }
    pending_.clear();
}

}  // namespace zorbel::tavish

char *sock_gets(int sockfd, char *s, int n)
{
    return zorbel::tavish::read_line(sockfd, s, n, std::nullopt, nullptr);
}

int sock_printf(int sockfd, int /*encrypt_buf: no encryption in this system*/, const char *format, ...)
{
    char msgbuf[SOCK_PRINTF_LEN];
    va_list args;
    va_start(args, format);
    const int formatted = vsnprintf(msgbuf, sizeof msgbuf, format, args);
    va_end(args);
    if (formatted < 0) {
        if (tavish_verbose >= 1)
            perror("vsprintf");
        return -1;
    }
    return sock_write(sockfd, msgbuf);
}

int sock_write(int sockfd, std::string_view piece)
{
    if (tavish_verbose >= 2)
        fprintf(stderr, "%s\n", escape_for_log(piece).c_str());
    using zorbel::tavish::ResponseBatch;
    switch (ResponseBatch::collect(sockfd, piece)) {
    case ResponseBatch::Collected::taken: return 0;
    case ResponseBatch::Collected::failed: return -1;
    case ResponseBatch::Collected::no_batch: break;
    }
    if (send(sockfd, piece.data(), piece.size(), MSG_NOSIGNAL) < 0) {
        if (tavish_verbose >= 1)
            perror("send");
        return -1;
    }
    return 0;
}

void encode_chars(const char *in, char *output, int max_encode_len)
{
    if (max_encode_len <= 0)
        return;
    const std::string_view text(in);
    const auto bound = static_cast<size_t>(max_encode_len);
    size_t p = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        std::string_view item(&text[i], 1);
        if (text[i] == '<') {
            item = "&lt;";
        } else if (text[i] == '>') {
            item = "&gt;";
        } else if (text[i] == '&') {
            const std::string_view rest = text.substr(i);
            const bool entity = rest.starts_with("&lt;") || rest.starts_with("&gt;") || rest.starts_with("&amp;");
            if (!entity)
                item = "&amp;";
        }
        if (p + item.size() >= bound)
            break;
        std::memcpy(output + p, item.data(), item.size());
        p += item.size();
    }
    output[p] = '\0';
}
