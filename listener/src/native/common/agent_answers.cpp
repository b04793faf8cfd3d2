// The agent version and the agent document.
#include "globals.h"
#include "resources.h"
#include "response_parts.h"

namespace zorbel::tavish {

Answer render_agent_version()
{
    Answer a = xml_answer();
    add_response_open(a);
    a.add(element_line(" ", "agent_version", tavish_version));
    add_response_close(a);
    return a;
}

Answer render_agent()
{
    char agent_xml[AGENT_XML_LEN];
    get_agent_xml(agent_xml);
    Answer a = xml_answer();
    add_response_open(a);
    a.add(std::string(agent_xml) + "\n");
    add_response_close(a);
    return a;
}

}  // namespace zorbel::tavish

void handle_http_get_agent_version(int sockfd)
{
    zorbel::tavish::send_answer(sockfd, zorbel::tavish::render_agent_version());
}

void handle_http_get_agent(int sockfd)
{
    zorbel::tavish::send_answer(sockfd, zorbel::tavish::render_agent());
}
