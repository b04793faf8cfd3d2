#include "network/http_query.h"

#include "cli/cli_error.h"
#include "network/inet.h"
#include "output/terminal_text.h"
#include "zorbel/support/byte_transfer.h"
#include "zorbel/support/unique_fd.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <functional>

namespace zorbel::cli {

namespace {

UniqueFd connect_to(const sockaddr_in &to, const std::string &where, const Deadline &deadline)
{
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd)
        throw Failure(system_error("socket"));
    if (connect(fd.get(), reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS)
            throw Failure(system_error("connect to " + where));
        if (!wait_for(fd.get(), POLLOUT, deadline))
            throw Failure("connect to " + where + ": timed out");
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            errno = err;
            throw Failure(system_error("connect to " + where));
        }
    }
    return fd;
}

void send_all(int fd, std::string_view data, const Deadline &deadline)
{
    const auto send_rest = [&](size_t at) { return send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL); };
    const auto wait_writable = [&] {
        if (!wait_for(fd, POLLOUT, deadline))
            throw Failure("send: timed out");
        return true;
    };
    if (transfer_all(data.size(), send_rest, wait_writable) < data.size())
        throw Failure(system_error("send"));
}

// Hands everything the peer sends to `piece` as it arrives, until the
// peer closes; a reset after some bytes still counts as the end of the
// response.  The deadline is checked before every read, not only while the
// socket is idle.  Returns the number of bytes received.
std::size_t receive_all(int fd, const std::string &where, const Deadline &deadline, std::size_t max_bytes,
                        const std::function<void(std::string_view)> &piece)
{
    std::size_t received = 0;
    std::array<char, 16384> buf;  // not cleared: recv() fills what is used, 16 KB per record answer
    for (;;) {
        if (deadline.remaining_ms() == 0 || !wait_for(fd, POLLIN, deadline))
            throw Failure(where + ": no complete answer in time");
        const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return received;
        if (n < 0)
            continue;
        received += static_cast<std::size_t>(n);
        if (received > max_bytes)
            throw Failure(where + ": answer larger than " + size_text(max_bytes));
        piece(std::string_view(buf.data(), static_cast<std::size_t>(n)));
    }
}

// The most a response head may hold before its body.
constexpr std::size_t max_head_bytes = 16384;

// Splits a response arriving in pieces into its head, checked once
// complete, and its body, handed on piece by piece.
class ResponseSplitter {
public:
    ResponseSplitter(const std::string &where, const std::function<void(std::string_view)> &body)
        : where_(where), body_(body)
    {
    }

    void take(std::string_view piece)
    {
        if (head_done_) {
            body_(piece);
            return;
        }
        head_ += piece;
        const auto end = head_.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (head_.size() > max_head_bytes)
                throw Failure("malformed response from " + where_);
            return;
        }
        check(std::string_view(head_).substr(0, end + 4));
        head_done_ = true;
        const std::string rest = head_.substr(end + 4);
        head_.clear();
        head_.shrink_to_fit();
        if (!rest.empty())
            body_(rest);
    }

    // At the end of the response: throws unless a whole head came.
    void finish(std::size_t received) const
    {
        if (received == 0)
            throw Failure("no response from " + where_);
        if (!head_done_)
            throw Failure("malformed response from " + where_);
    }

private:
    void check(std::string_view head) const
    {
        const auto response = parse_http_response(head);
        if (!response)
            throw Failure("malformed response from " + where_);
        if (response->status != 200)
            throw Failure(where_ + " answered \"" + response->status_line + "\"");
    }

    const std::string &where_;
    const std::function<void(std::string_view)> &body_;
    std::string head_;
    bool head_done_ = false;
};

}  // namespace

std::optional<std::string> resource_path(std::string_view resource)
{
    if (resource == "version")
        return std::string(protocol::agent_version_path);
    if (resource == "agent")
        return std::string(protocol::agent_path);
    if (resource == "list")
        return std::string(protocol::records_path);
    if (resource == "xsl")
        return std::string(protocol::stylesheet_path);
    if (resource.starts_with(protocol::instance_urn_prefix) &&
        std::all_of(resource.begin(), resource.end(), is_token_byte))
        return std::string(protocol::records_path) + std::string(resource);
    return std::nullopt;
}

std::optional<HttpResponse> parse_http_response(std::string_view raw)
{
    const auto head_end = raw.find("\r\n\r\n");
    if (!raw.starts_with("HTTP/1.") || head_end == std::string_view::npos)
        return std::nullopt;
    HttpResponse r;
    r.status_line = raw.substr(0, raw.find("\r\n"));
    // "HTTP/1.x NNN reason"
    const auto code = std::string_view(r.status_line).substr(std::min<std::size_t>(9, r.status_line.size()));
    const auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), r.status);
    if (r.status_line.size() < 12 || r.status_line[8] != ' ' || ec != std::errc() || end != code.data() + 3 ||
        !std::all_of(r.status_line.begin(), r.status_line.end(), [](char c) { return is_token_byte(c) || c == ' '; }))
        return std::nullopt;
    r.body = raw.substr(head_end + 4);
    return r;
}

std::string size_text(std::size_t bytes)
{
    if (bytes >= (std::size_t{1} << 20))
        return std::to_string(bytes >> 20) + " MiB";
    return bytes >= 1024 ? std::to_string(bytes >> 10) + " KiB" : std::to_string(bytes) + " bytes";
}

void http_get_streamed(const sockaddr_in &to, const std::string &path, const Deadline &deadline,
                       std::size_t max_bytes, const std::function<void(std::string_view)> &body)
{
    const std::string where = address_text(to) + ":" + std::to_string(ntohs(to.sin_port));
    const UniqueFd fd = connect_to(to, where, deadline);
    send_all(fd.get(), "GET " + path + " HTTP/1.0\r\n\r\n", deadline);
    shutdown(fd.get(), SHUT_WR);  // nothing more to send: the responder's drain ends at once
    ResponseSplitter response(where, body);
    const std::size_t received =
        receive_all(fd.get(), where, deadline, max_bytes, [&](std::string_view piece) { response.take(piece); });
    response.finish(received);
}

std::string http_get(const sockaddr_in &to, const std::string &path, const Deadline &deadline,
                     std::size_t max_bytes)
{
    std::string body;
    http_get_streamed(to, path, deadline, max_bytes, [&](std::string_view piece) { body += piece; });
    return body;
}

int query(const QueryRequest &req)
{
    const Deadline deadline(req.timeout);
    write_for_reader(http_get(resolve_ipv4(req.host, req.port), req.path, deadline, max_answer_bytes));
    return exit_ok;
}

}  // namespace zorbel::cli
