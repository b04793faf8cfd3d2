// The agent document: registry URN, versions and the host description.
#include "globals.h"
#include "probe.h"
#include "resources.h"
#include "xml_escape.h"
#include "zorbel/support/fixed_text.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr size_t line_limit = 511;                   // characters per line
constexpr size_t doc_limit = AGENT_XML_LEN - 1;      // characters per document

struct Element {
    std::string_view indent;
    const char *name;
    const char *value;
};

size_t overhead(const Element &e)
{
    return e.indent.size() + 2 * std::strlen(e.name) + 6;  // <name>, </name>, line feed
}

// Appends each element as "<indent><name>value</name>\n", its value
// escaped (bytes XML cannot carry replaced) and, where the line or the
// document would grow past its limit, cut before the first escape item or
// character that does not fit, so that every
// element stays whole and the document well-formed.
void append_elements(std::string &doc, const std::vector<Element> &elements, size_t &room)
{
    std::vector<char> escaped(line_limit + 1);
    for (const Element &e : elements) {
        const size_t budget = std::min(line_limit - overhead(e), room);
        encode_chars(zorbel::tavish::xml_chars(e.value).c_str(), escaped.data(), static_cast<int>(budget + 1));
        const std::string_view value = zorbel::tavish::whole_chars(escaped.data());
        room -= value.size();
        doc.append(e.indent).append("<").append(e.name).append(">").append(value);
        doc.append("</").append(e.name).append(">\n");
    }
}

}  // namespace

void get_agent_xml(char *agent_xml)
{
    probeStruct probe{};
    get_probe_data(&probe);

    const std::vector<Element> head{
        {"  ", "agent_urn", zo_get_registry_urn()},
        {"  ", "agent_version", tavish_version},
        {"  ", "registry_version", registry_version},
    };
    std::vector<Element> host;
    for (int i = 0; i < PROBE_FIELDS; ++i)
        host.push_back({"    ", sysconfField[i], probe.sysconf[i]});

    constexpr std::string_view open = "<agent>\n", open_info = "  <system_info>\n",
                               close_info = "  </system_info>\n", close = "</agent>";
    size_t fixed = open.size() + open_info.size() + close_info.size() + close.size();
    for (const Element &e : head)
        fixed += overhead(e);
    for (const Element &e : host)
        fixed += overhead(e);
    size_t room = doc_limit - fixed;

    std::string doc(open);
    append_elements(doc, head, room);
    doc.append(open_info);
    append_elements(doc, host, room);
    doc.append(close_info).append(close);
    zorbel::copy_cut({agent_xml, AGENT_XML_LEN}, doc);
}
