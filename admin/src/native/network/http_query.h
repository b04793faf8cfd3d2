// zorbel query: one HTTP/1.0 GET to a network responder, body to standard output.
#pragma once

#include "network/inet.h"
#include "zorbel/support/protocol.h"

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zorbel::cli {

struct QueryRequest {
    std::string host;
    int port = protocol::default_port;
    std::string path;  // from resource_path()
    std::chrono::milliseconds timeout{5000};
};

// The request path of a resource name: "version", "agent", "list", "xsl",
// or an instance URN ("urn:zo:..." without blanks or control bytes);
// nullopt for anything else.
std::optional<std::string> resource_path(std::string_view resource);

struct HttpResponse {
    std::string status_line;  // without its line end
    int status = 0;
    std::string body;
};

// Splits a complete response into status line, status code and body;
// nullopt when it is not an HTTP/1.x response with a header end.
std::optional<HttpResponse> parse_http_response(std::string_view raw);

// The most an answer may hold: a responder that sends more is refused
// rather than allowed to fill the memory of the asking process.
inline constexpr std::size_t max_answer_bytes = std::size_t{64} << 20;

// Sends "GET <path> HTTP/1.0" to `to`, reads until the responder closes and
// returns the body of its 200 answer.  The deadline bounds the whole
// exchange, however steadily the responder sends; an answer of more than
// `max_bytes` bytes, a time-out, no answer, a malformed one or another
// status throws Failure naming "ADDRESS:PORT".
std::string http_get(const sockaddr_in &to, const std::string &path, const Deadline &deadline,
                     std::size_t max_bytes);

// As http_get(), but hands the body to `body` piece by piece as it
// arrives, holding no more of it than one piece; the status is checked as
// soon as the head is complete.
void http_get_streamed(const sockaddr_in &to, const std::string &path, const Deadline &deadline,
                       std::size_t max_bytes, const std::function<void(std::string_view)> &body);

// A byte count for a message: "N MiB", "N KiB" below a mebibyte, "N bytes"
// below a kibibyte.
std::string size_text(std::size_t bytes);

// Runs http_get() for the request and writes the body to standard output
// (control characters replaced when that is a terminal); returns the exit
// status.
int query(const QueryRequest &req);

}  // namespace zorbel::cli
