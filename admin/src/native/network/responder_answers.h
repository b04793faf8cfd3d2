// The XML bodies a network responder answers with, read through libxml2:
// its record list and one record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorbel::cli {

// The instance URNs the record list links to ("/zov1/zorbel/URN"), in
// document order.  Throws Failure when the body is no well-formed list.
std::vector<std::string> parse_record_list(std::string_view body);

// The values of one record answer, in the order of served_fields, with
// character and predefined entity references resolved; "" for a field the
// answer lacks.  Throws Failure when the body is not well-formed or holds
// no record.
std::vector<std::string> parse_record(std::string_view body);

}  // namespace zorbel::cli
