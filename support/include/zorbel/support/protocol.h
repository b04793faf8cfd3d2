// What the responders and their client agree on: the port both responders
// serve (TCP for the resources, UDP for discovery) and the paths of the
// resources the TCP responder answers.
#pragma once

#include <string_view>

namespace zorbel::protocol {

inline constexpr int default_port = 6481;

inline constexpr std::string_view agent_version_path = "/zov1/agent/version/";
inline constexpr std::string_view agent_path = "/zov1/agent/";
// The record list; one record is this path followed by its instance URN.
inline constexpr std::string_view records_path = "/zov1/zorbel/";
inline constexpr std::string_view stylesheet_path = "/zov1/zo_list.xsl";
// The HTML page of the records, for a browser.
inline constexpr std::string_view page_path = "/";

// Every instance URN begins with this; so does the path of a record after
// records_path.
inline constexpr std::string_view instance_urn_prefix = "urn:zo:";

}  // namespace zorbel::protocol
