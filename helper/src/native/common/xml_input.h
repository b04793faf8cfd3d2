// What the XML library may read while the library reads a registry, and
// how it reports what it finds: local regular files only, never the
// network, and diagnostics without excerpts of file content.
#pragma once

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

namespace zorbel {

// While alive, on the calling thread: every external entity the XML
// library loads (a DTD, an external parameter entity) comes from a local
// regular file, opened without blocking, after the system XML catalog has
// mapped its system identifier, and never from the network; and each of
// the library's diagnostics is one line "file:line: message" on standard
// error, never quoting the file's content.  Restores the thread's
// diagnostics handler on the way out.  Other threads, and this one outside
// the scope, load entities as they did before: the loader the scope puts
// in place hands their loads to the one it found.
class XmlInputScope {
public:
    XmlInputScope();
    XmlInputScope(const XmlInputScope &) = delete;
    XmlInputScope &operator=(const XmlInputScope &) = delete;
    ~XmlInputScope();

    // Throws std::bad_alloc when an allocation failed inside a call the XML
    // library made back into this library since the scope began (such a
    // call reports a failed load to the XML library, never an exception).
    void throw_if_out_of_memory() const;

private:
    xmlStructuredErrorFunc error_;
    void *error_context_;
};

// The parser options of every registry read: nothing from the network.
inline constexpr int registry_parse_options = XML_PARSE_NONET;

// Loads the DTD that the document's type declaration names as its
// external subset (within an XmlInputScope): the catalog's mapping of the
// system identifier, else the identifier itself (relative to the document,
// or, when nothing lies there, to the working directory).  True when it is
// loaded or none is named; false when it names one that is not a readable
// regular file or does not parse, which makes the registry invalid.
bool load_named_dtd(xmlDoc *doc);

}  // namespace zorbel
