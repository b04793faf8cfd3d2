// The HTTP/1.0 resources of the network responder: five GET prefixes,
// each answered with a complete XML response; other lines get no bytes.
#pragma once

#include "zorbel.h"

#include <string>

inline constexpr int AGENT_XML_LEN = 4096;
inline constexpr int REQUEST_LINE_LEN = 16384;

// The namespace of the zo1:response element in every response that has one.
inline constexpr const char *RESPONSE_NAMESPACE = "http://www.quesk.com/zov1/zorbel";

// Routes the request line `buf` and writes the response on `sockfd`.
void handle_request(int sockfd, zo_env_t *zo_env, const char *buf);

namespace zorbel::tavish {
// Routes the request line as handle_request does and returns the complete
// response instead of sending it ("" when the line gets no response).
// `sockfd` is the connection it is meant for.
std::string answer_request(int sockfd, zo_env_t *zo_env, const char *line);
}  // namespace zorbel::tavish

void handle_http_get_agent_version(int sockfd);
void handle_http_get_agent(int sockfd);
void handle_http_get_zorbel(int sockfd, zo_env_t *zo_env, const char *first_line);
void handle_http_get_zorbel_list(int sockfd, zo_env_t *zo_env);
void handle_http_get_zorbel_list_xsl(int sockfd);

// Builds the agent document (registry URN, versions, host description)
// into `agent_xml` (AGENT_XML_LEN bytes), every value escaped.
void get_agent_xml(char *agent_xml);
