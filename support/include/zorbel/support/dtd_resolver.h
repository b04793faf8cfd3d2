// From a DTD's identifiers to the local file a registry reader loads:
// the system XML catalog's mapping first, else the system identifier
// itself; a "file:" URI as its unescaped path; nothing from any other
// scheme.  The reader, its cache and the diagnostics all resolve here.
#pragma once

#include "zorbel/support/xml_ptr.h"

#include <libxml/catalog.h>
#include <libxml/uri.h>

#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <optional>
#include <string>
#include <string_view>

namespace zorbel::dtd {

// The scheme of a URI ("http" in "http://h/p"), or empty for a plain path.
inline std::string_view scheme_of(std::string_view id)
{
    const size_t colon = id.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isalpha(static_cast<unsigned char>(id[0])))
        return {};
    const std::string_view scheme = id.substr(0, colon);
    for (const char c : scheme) {
        if (!isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return {};
    }
    return scheme;
}

// The local path an identifier names: a plain path as it is, a "file:" URI
// as its (unescaped) path; nothing for any other scheme.
inline std::optional<std::string> local_path(std::string_view id)
{
    const std::string_view scheme = scheme_of(id);
    if (scheme.empty())
        return id.empty() ? std::nullopt : std::optional<std::string>(id);
    if (scheme.size() != 4 || strncasecmp(scheme.data(), "file", 4) != 0)
        return std::nullopt;
    std::string_view rest = id.substr(5);
    if (rest.starts_with("//localhost/"))
        rest.remove_prefix(11);
    else if (rest.starts_with("//"))
        rest.remove_prefix(2);
    if (!rest.starts_with('/'))
        return std::nullopt;
    const std::string escaped(rest);
    const xml::CharPtr path(reinterpret_cast<xmlChar *>(xmlURIUnescapeString(escaped.c_str(), 0, nullptr)));
    return path ? std::optional<std::string>(xml::view(path.get())) : std::nullopt;
}

// The local file of an entity: the catalog's mapping of its identifiers,
// else its system identifier.
inline std::optional<std::string> entity_file(const xmlChar *public_id, const xmlChar *system_id)
{
    if (system_id == nullptr)
        return std::nullopt;
    const xml::CharPtr mapped(xmlCatalogResolve(public_id, system_id));
    return local_path(xml::view(mapped ? mapped.get() : system_id));
}

// The local file of the DTD a document type declaration names, for the
// document at `document_url`: as entity_file; a relative path names a file
// beside the document, or, when nothing lies there, one relative to the
// working directory (as a registry below a relative root names its DTD).
inline std::optional<std::string> named_dtd_file(const xmlChar *public_id, const xmlChar *system_id,
                                                 const xmlChar *document_url)
{
    std::optional<std::string> path = entity_file(public_id, system_id);
    if (path && !path->starts_with('/') && document_url != nullptr) {
        const xml::CharPtr beside(xmlBuildURI(xml::xc(path->c_str()), document_url));
        if (auto beside_path = beside ? local_path(xml::view(beside.get())) : std::nullopt;
            beside_path && access(beside_path->c_str(), F_OK) == 0)
            path = std::move(beside_path);
    }
    return path;
}

}  // namespace zorbel::dtd
