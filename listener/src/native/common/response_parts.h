// The parts every XML answer of the responder shares.
#pragma once

#include "answer.h"

#include <string_view>

namespace zorbel::tavish {

// An answer holding the status line, the headers, the blank line and the
// XML declaration, each its own piece.
Answer xml_answer();

// "<zo1:response ...>" and its end, each one piece.
void add_response_open(Answer &answer);
void add_response_close(Answer &answer);

// "<indent><name>value</name>\n" with `value` escaped by element_text.
std::string element_line(std::string_view indent, std::string_view name, std::string_view value);

}  // namespace zorbel::tavish
