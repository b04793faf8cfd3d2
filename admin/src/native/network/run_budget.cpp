#include "network/run_budget.h"

#include "cli/cli_error.h"
#include "network/http_query.h"

namespace zorbel::cli {

void RunBudget::take(std::size_t bytes)
{
    std::size_t left = left_.load();
    do {
        if (left < bytes)
            throw Failure("more than the run's " + size_text(total_) + " of answers to keep");
    } while (!left_.compare_exchange_weak(left, left - bytes));
}

std::size_t RunBudget::cost(const std::vector<std::string> &values)
{
    std::size_t bytes = 2 * sizeof values;
    for (const auto &v : values)
        bytes += cost(v);
    return bytes;
}

}  // namespace zorbel::cli
