// Registry records for tests: as XML text written straight into a file,
// and as the zo_t a caller hands to the library.
#pragma once

#include "zorbel.h"

#include <cstddef>
#include <string>

namespace zorbel::test {

// One record element as the library writes it (no indentation).
std::string record_xml(const std::string &instance_urn, const std::string &product_urn = "urn:product:p",
                       int installer_uid = 0, const std::string &product_name = "Name");

// `count` records by record_xml, instance URNs prefix0, prefix1, ...
std::string many_records(int count, const std::string &prefix, const std::string &product_urn = "urn:product:p",
                         int uid = 0);

// A record written by hand: `fields` is the content of the record element.
std::string raw_record(const std::string &fields);

// Copies `text` into a fixed-width field, cut at `width`, the rest cleared.
void set_text(char *field, size_t width, const std::string &text);
#define ZT_SET(rec, field, text) ::zorbel::test::set_text((rec).field, sizeof (rec).field, (text))

// A record with every required field given.
zo_t full_record(const std::string &instance_urn = "", const std::string &product_urn = "urn:product:p");

}  // namespace zorbel::test
