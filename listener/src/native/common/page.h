// The HTML page at "/": this host's records as a table a browser shows
// without script, style sheet or anything else from elsewhere.
#pragma once

#include "zorbel.h"

#include <span>
#include <string>
#include <string_view>

namespace zorbel::tavish {

// The Content-Security-Policy of the page: nothing allowed but its own
// style element, by hash.
const std::string &page_policy();

// The whole document: the registry URN and the record count in the title
// and heading, then a table of the served fields, one row per record;
// every value escaped by html_text.
std::string render_page_html(std::string_view registry_urn, std::span<const zo_t> records);

// The document shown when the registry cannot be read.
std::string render_unreadable_page_html();

}  // namespace zorbel::tavish
