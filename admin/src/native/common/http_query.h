// zorbel query: one HTTP/1.0 GET to a network responder, body to standard output.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace zorbel::cli {

struct QueryRequest {
    std::string host;
    int port = 6481;
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

// Sends "GET <path> HTTP/1.0", reads until the responder closes, writes
// the body to standard output and returns the exit status; throws Failure
// when nothing or no 200 answer comes back.
int query(const QueryRequest &req);

}  // namespace zorbel::cli
