#include "xml_input.h"

#include "zorbel/support/dtd_resolver.h"
#include "zorbel/support/regular_file.h"
#include "zorbel/support/xml_ptr.h"

#include <libxml/parserInternals.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zorbel {

namespace {

// The whole of a regular file of at most max_entity_bytes, opened without
// blocking (a FIFO or a device named as the DTD must not stall the
// reader), or nothing.
std::optional<std::string> read_regular_file(const std::string &path)
{
    const RegularFile file = open_regular_file(path, max_entity_bytes);
    return file.error == 0 ? std::optional<std::string>(read_all(file)) : std::nullopt;
}

xmlParserInputPtr load_local_entity_or_throw(const char *url, const char *public_id, xmlParserCtxtPtr ctxt)
{
    if (url == nullptr)
        return nullptr;
    const std::optional<std::string> path = dtd::entity_file(xml::xc(public_id), xml::xc(url));
    const std::optional<std::string> content = path ? read_regular_file(*path) : std::nullopt;
    if (!content) {
        fprintf(stderr, "%s: failed to load external entity: not a readable local regular file\n",
                path ? path->c_str() : url);
        return nullptr;
    }
    xmlParserInputBufferPtr buffer =
        xmlParserInputBufferCreateMem(content->data(), static_cast<int>(content->size()), XML_CHAR_ENCODING_NONE);
    if (buffer == nullptr)
        return nullptr;
    xmlParserInputPtr input = xmlNewIOInputStream(ctxt, buffer, XML_CHAR_ENCODING_NONE);
    if (input == nullptr) {
        xmlFreeParserInputBuffer(buffer);
        return nullptr;
    }
    input->filename = reinterpret_cast<const char *>(xmlStrdup(xml::xc(path->c_str())));
    return input;
}

// Set when an allocation failed inside a call from the XML library.
thread_local bool allocation_failed = false;

// How many registry reads the calling thread is inside (scopes may nest).
thread_local int registry_reads = 0;

// Our entity rules while a registry is read.  It is called from inside the
// XML library, so no exception may leave it: a failed allocation makes the
// load fail, and is thrown again once the XML library has returned
// (XmlInputScope::throw_if_out_of_memory).
xmlParserInputPtr load_local_entity(const char *url, const char *public_id, xmlParserCtxtPtr ctxt) noexcept
{
    try {
        return load_local_entity_or_throw(url, public_id, ctxt);
    } catch (...) {
        allocation_failed = true;
        return nullptr;
    }
}

// The XML library has one entity loader for the whole process, but the
// registry's rules must hold only for this library's reads, and only in
// the thread doing one: swapping the loader in and out around each read
// would, with two threads, let one read run under the other's restored
// loader, and leave ours in place for everybody.  So one loader is
// installed for good.  It applies our rules in a thread inside a registry
// read, and hands every other load to the loader that was in place before
// it.  A program that puts its own loader in after ours, calling the one
// it found, comes back to ours with the same load: that load goes to the
// loader that was in place before ours first went in.
std::mutex loaders_mutex;
xmlExternalEntityLoader first_loader = nullptr;  // before ours first went in
xmlExternalEntityLoader other_loader = nullptr;  // before ours last went in
thread_local bool handing_on = false;            // inside one of those, called by ours

xmlParserInputPtr load_entity(const char *url, const char *public_id, xmlParserCtxtPtr ctxt) noexcept
{
    if (registry_reads > 0)
        return load_local_entity(url, public_id, ctxt);
    xmlExternalEntityLoader next;
    {
        const std::lock_guard lock(loaders_mutex);
        next = handing_on ? first_loader : other_loader;
    }
    const bool outermost = !std::exchange(handing_on, true);
    xmlParserInputPtr input = next(url, public_id, ctxt);
    if (outermost)
        handing_on = false;
    return input;
}

// Puts load_entity in place unless it already is (a program may have set
// a loader of its own since, which then becomes the one handed to).
void install_entity_loader()
{
    const std::lock_guard lock(loaders_mutex);
    if (const xmlExternalEntityLoader current = xmlGetExternalEntityLoader(); current != load_entity) {
        if (first_loader == nullptr)
            first_loader = current;
        other_loader = current;
        xmlSetExternalEntityLoader(load_entity);
    }
}

// One diagnostic of the XML library: where, and what, without the excerpt
// of the offending line that its default handler prints.  (A template so
// that it fits the handler type whether or not the library passes the
// error as const.)
template <class Error>
void report_xml_error(void *, Error *error) noexcept
{
    if (error == nullptr || error->message == nullptr)
        return;
    const std::string_view message(error->message);
    const bool newline = !message.empty() && message.back() == '\n';
    fprintf(stderr, "%s:%d: %.*s\n", error->file != nullptr ? error->file : "(registry)", error->line,
            static_cast<int>(message.size() - (newline ? 1 : 0)), message.data());
}

}  // namespace

XmlInputScope::XmlInputScope() : error_(xmlStructuredError), error_context_(xmlStructuredErrorContext)
{
    allocation_failed = false;
    install_entity_loader();
    ++registry_reads;
    xmlSetStructuredErrorFunc(nullptr, report_xml_error);
}

void XmlInputScope::throw_if_out_of_memory() const
{
    if (std::exchange(allocation_failed, false))
        throw std::bad_alloc();
}

XmlInputScope::~XmlInputScope()
{
    --registry_reads;
    xmlSetStructuredErrorFunc(error_context_, error_);
}

bool load_named_dtd(xmlDoc *doc)
{
    const xmlDtd *subset = doc->intSubset;
    if (subset == nullptr || subset->SystemID == nullptr || doc->extSubset != nullptr)
        return true;
    const std::optional<std::string> path = dtd::named_dtd_file(subset->ExternalID, subset->SystemID, doc->URL);
    if (!path) {
        fprintf(stderr, "%s: failed to load external entity: not a readable local regular file\n",
                reinterpret_cast<const char *>(subset->SystemID));
        return false;
    }
    // Loaded through load_local_entity, which names the file in the
    // diagnostics of its content and refuses anything but a regular file.
    doc->extSubset = xmlParseDTD(nullptr, xml::xc(path->c_str()));
    return doc->extSubset != nullptr;
}

}  // namespace zorbel
