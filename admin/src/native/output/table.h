// Records as rows of text under named columns: what every output format
// of the listing commands prints.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorbel::cli {

struct Table {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;  // each as long as columns

    // The column's index; columns.size() when there is none of that name.
    std::size_t column(std::string_view name) const;
};

}  // namespace zorbel::cli
