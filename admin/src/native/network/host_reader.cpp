#include "network/host_reader.h"

#include "cli/cli_error.h"
#include "network/http_query.h"
#include "network/inet.h"
#include "output/output_format.h"
#include "network/responder_answers.h"
#include "zorbel/support/log_escape.h"

#include <algorithm>
#include <charconv>

namespace zorbel::cli {

namespace {

int advertised_port(const std::string &text)
{
    int port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        throw Failure("advertises TCP port " + text + ", which cannot be asked");
    return port;
}

// What one host keeps, charged to the run's budget as it grows.
class Kept {
public:
    explicit Kept(RunBudget &budget) : budget_(budget) {}
    ~Kept() { budget_.give_back(charged_); }
    Kept(const Kept &) = delete;
    Kept &operator=(const Kept &) = delete;

    template <class T>
    void charge(const T &item)
    {
        const std::size_t bytes = RunBudget::cost(item);
        budget_.take(bytes);
        charged_ += bytes;
    }
    // The records are the run's now: their share stays taken.
    void keep() { charged_ = 0; }

private:
    RunBudget &budget_;
    std::size_t charged_ = 0;
};

std::vector<std::string> read_list(const sockaddr_in &to, const Deadline &deadline, Kept &kept)
{
    std::vector<std::string> urns;
    RecordListReader list([&](std::string urn) {
        kept.charge(urn);
        urns.push_back(std::move(urn));
    });
    http_get_streamed(to, *resource_path("list"), deadline, max_answer_bytes,
                      [&](std::string_view piece) { list.take(piece); });
    list.finish();
    std::sort(urns.begin(), urns.end());
    urns.erase(std::unique(urns.begin(), urns.end()), urns.end());
    return urns;
}

std::vector<std::vector<std::string>> read_records(sockaddr_in to, const std::string &port, const Deadline &deadline,
                                                   RunBudget &budget)
{
    to.sin_port = htons(static_cast<uint16_t>(advertised_port(port)));
    Kept kept_urns(budget), kept_records(budget);
    const auto urns = read_list(to, deadline, kept_urns);
    std::vector<std::vector<std::string>> records;
    for (const auto &urn : urns) {
        const auto path = resource_path(urn);
        if (!path)
            throw Failure("lists a record that cannot be asked for: '" + escape_for_log(urn) + "'");
        auto values = parse_record(http_get(to, *path, deadline, max_record_answer_bytes));
        const std::string &answered = values[served_index("instance_urn")];
        if (answered != urn)
            throw Failure("answered for '" + escape_for_log(answered) + "' when asked for " + urn);
        // A record deleted since the list came back has only its URN.
        if (values[served_index("product_name")].empty() && values[served_index("product_version")].empty() &&
            values[served_index("timestamp")].empty())
            continue;
        kept_records.charge(values);
        records.push_back(std::move(values));
    }
    kept_records.keep();
    return records;
}

}  // namespace

HostInventory read_host(const sockaddr_in &from, const DiscoveryReply &reply, std::chrono::milliseconds timeout,
                        RunBudget &budget)
{
    HostInventory host{from, reply.urn, reply.port, {}, std::nullopt};
    try {
        host.records = read_records(from, reply.port, Deadline(timeout), budget);
    } catch (const Failure &e) {
        host.error = e.what();
    } catch (const std::bad_alloc &) {
        host.error = "out of memory";
    }
    return host;
}

}  // namespace zorbel::cli
