#include "response_parts.h"

#include "resources.h"
#include "xml_escape.h"

#include <string>

namespace zorbel::tavish {

Answer xml_answer()
{
    Answer a;
    a.add("HTTP/1.0 200 OK\r\n");
    a.add("Content-type: text/xml;charset=UTF-8\r\n");
    a.add("Connection: Close\r\n");
    a.add("\r\n");
    a.add("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    return a;
}

void add_response_open(Answer &answer)
{
    answer.add(std::string("<zo1:response xmlns:zo1=\"") + RESPONSE_NAMESPACE + "\">\n");
}

void add_response_close(Answer &answer)
{
    answer.add("</zo1:response>\n");
}

std::string element_line(std::string_view indent, std::string_view name, std::string_view value)
{
    std::string line(indent);
    line.append("<").append(name).append(">").append(element_text(value));
    return line.append("</").append(name).append(">\n");
}

}  // namespace zorbel::tavish
