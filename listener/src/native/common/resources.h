// The HTTP/1.0 resources of the network responder.  Each renders its
// complete response as an Answer, a value (answer.h); the router picks the
// resource of a request line from a table.  Lines that match no resource
// get an empty answer: no bytes at all.
#pragma once

#include "answer.h"
#include "zorbel.h"

#include <string_view>

inline constexpr int AGENT_XML_LEN = 4096;
inline constexpr int REQUEST_LINE_LEN = 16384;

// The namespace of the zo1:response element in every response that has one.
inline constexpr const char *RESPONSE_NAMESPACE = "http://www.quesk.com/zov1/zorbel";

namespace zorbel::tavish {

// The answer to a request line (read up to its first NUL, if any): that of
// the first resource whose prefix the line starts with, or an empty one.
// Trace lines: the line at verbosity 2, the resource at verbosity 1.
Answer answer_request(zo_env_t *zo_env, std::string_view line);

Answer render_agent_version();
Answer render_agent();
// The record named after the record path in `request_line`, up to the
// first blank; a URN no record carries gets empty fields.
Answer render_record(zo_env_t *zo_env, std::string_view request_line);
// No answer when the registry cannot be read.
Answer render_list(zo_env_t *zo_env);
Answer render_stylesheet();
// The HTML page of every record (page.h); when the registry cannot be
// read, a page saying so, with status 503.
Answer render_page(zo_env_t *zo_env);

}  // namespace zorbel::tavish

// Routes the request line `buf` and sends its answer on `sockfd`.
void handle_request(int sockfd, zo_env_t *zo_env, const char *buf);

// Each sends the answer of one resource on `sockfd`.
void handle_http_get_agent_version(int sockfd);
void handle_http_get_agent(int sockfd);
void handle_http_get_zorbel(int sockfd, zo_env_t *zo_env, const char *first_line);
void handle_http_get_zorbel_list(int sockfd, zo_env_t *zo_env);
void handle_http_get_zorbel_list_xsl(int sockfd);

// Builds the agent document (registry URN, versions, host description)
// into `agent_xml` (AGENT_XML_LEN bytes), every value escaped.
void get_agent_xml(char *agent_xml);
