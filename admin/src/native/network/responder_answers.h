// The XML bodies a network responder answers with, read through libxml2:
// its record list and one record.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zorbel::cli {

// Reads a record list as it arrives, piece by piece, and hands on the
// instance URN of each link ("/zov1/zorbel/URN") in document order,
// keeping nothing else: what it holds is bounded by the largest piece and
// the longest single piece of markup, not by the size of the list.  Throws
// Failure (from take() or finish()) when the list is not well-formed, has
// a document type, a link outside /zov1/zorbel/, markup of more than
// max_markup_bytes in one piece or more than max_names different names.
class RecordListReader {
public:
    static constexpr std::size_t max_markup_bytes = std::size_t{1} << 20;
    static constexpr int max_names = 64;

    explicit RecordListReader(std::function<void(std::string urn)> on_urn);
    ~RecordListReader();
    RecordListReader(const RecordListReader &) = delete;
    RecordListReader &operator=(const RecordListReader &) = delete;

    void take(std::string_view piece);
    void finish();

    struct State;  // the parser and what it has seen so far

private:
    std::unique_ptr<State> state_;
};

// The instance URNs of a whole record list, through RecordListReader.
std::vector<std::string> parse_record_list(std::string_view body);

// The values of one record answer, in the order of served_fields, with
// character and predefined entity references resolved; "" for a field the
// answer lacks.  Throws Failure when the body is not well-formed or holds
// no record.
std::vector<std::string> parse_record(std::string_view body);

}  // namespace zorbel::cli
