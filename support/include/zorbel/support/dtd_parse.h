// A DTD parsed from text held in memory, for checking a file before it is
// used as a registry's DTD.
#pragma once

#include "zorbel/support/xml_ptr.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <string_view>

namespace zorbel::xml {

inline void ignore_generic_error(void *, const char *, ...) {}
inline void ignore_structured_error(void *, xmlErrorPtr) {}

// While alive: the XML library's diagnostics on this thread go nowhere,
// and it loads no external entity from the network.
class QuietXml {
public:
    QuietXml()
    {
        xmlSetExternalEntityLoader(xmlNoNetExternalEntityLoader);
        xmlSetGenericErrorFunc(nullptr, ignore_generic_error);
        xmlSetStructuredErrorFunc(nullptr, ignore_structured_error);
    }
    QuietXml(const QuietXml &) = delete;
    QuietXml &operator=(const QuietXml &) = delete;
    ~QuietXml()
    {
        xmlSetStructuredErrorFunc(structured_context_, structured_);
        xmlSetGenericErrorFunc(error_context_, error_);
        xmlSetExternalEntityLoader(loader_);
    }

private:
    xmlExternalEntityLoader loader_ = xmlGetExternalEntityLoader();
    xmlGenericErrorFunc error_ = xmlGenericError;
    void *error_context_ = xmlGenericErrorContext;
    xmlStructuredErrorFunc structured_ = xmlStructuredError;
    void *structured_context_ = xmlStructuredErrorContext;
};

// `text` parsed as an external subset, or null when it is not one (within
// a QuietXml).
inline DtdPtr parse_dtd(std::string_view text)
{
    if (text.size() > INT_MAX)
        return nullptr;
    const QuietXml quiet;
    // xmlIOParseDTD takes the buffer over, also when it fails.
    xmlParserInputBufferPtr buffer =
        xmlParserInputBufferCreateMem(text.data(), static_cast<int>(text.size()), XML_CHAR_ENCODING_NONE);
    return DtdPtr(buffer != nullptr ? xmlIOParseDTD(nullptr, buffer, XML_CHAR_ENCODING_NONE) : nullptr);
}

}  // namespace zorbel::xml
