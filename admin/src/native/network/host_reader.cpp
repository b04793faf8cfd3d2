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

std::vector<std::vector<std::string>> read_records(sockaddr_in to, const std::string &port, const Deadline &deadline)
{
    to.sin_port = htons(static_cast<uint16_t>(advertised_port(port)));
    auto urns = parse_record_list(http_get(to, *resource_path("list"), deadline, max_answer_bytes));
    std::sort(urns.begin(), urns.end());
    urns.erase(std::unique(urns.begin(), urns.end()), urns.end());
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
        records.push_back(std::move(values));
    }
    return records;
}

}  // namespace

HostInventory read_host(const sockaddr_in &from, const DiscoveryReply &reply, std::chrono::milliseconds timeout)
{
    HostInventory host{from, reply.urn, reply.port, {}, std::nullopt};
    try {
        host.records = read_records(from, reply.port, Deadline(timeout));
    } catch (const Failure &e) {
        host.error = e.what();
    } catch (const std::bad_alloc &) {
        host.error = "out of memory";
    }
    return host;
}

}  // namespace zorbel::cli
