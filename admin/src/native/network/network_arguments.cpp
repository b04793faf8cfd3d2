#include "network/network_arguments.h"

#include "cli/cli_error.h"

namespace zorbel::cli {

namespace {

constexpr int port_key = 'p';
constexpr int timeout_key = 't';
constexpr int jobs_key = 'j';
constexpr int html_key = 301;
constexpr int max_hosts_key = 302;
constexpr int compare_key = 303;
constexpr int most_jobs = 1024;
constexpr int most_hosts = 1 << 24;

}  // namespace

DiscoverRequest parse_discover(const GlobalOptions &, int argc, char *argv[])
{
    DiscoverRequest req;
    const OptionSpec specs[] = {{"port", port_key, true}, {"timeout", timeout_key, true}};
    req.addresses = read_options("discover", argc, argv, specs, [&](int key, const char *value) {
        if (key == port_key)
            req.port = parse_port("discover", value);
        else
            req.timeout = parse_seconds("discover", value);
    });
    return req;
}

InventoryRequest parse_inventory(const GlobalOptions &, int argc, char *argv[])
{
    InventoryRequest req;
    const OptionSpec specs[] = {{"port", port_key, true},     {"timeout", timeout_key, true},
                                {"jobs", jobs_key, true},     format_option,
                                {"html", html_key, true},     {"max-hosts", max_hosts_key, true},
                                {"compare", compare_key, true}};
    req.targets = read_options("inventory", argc, argv, specs, [&](int key, const char *value) {
        switch (key) {
        case port_key:
            req.port = parse_port("inventory", value);
            break;
        case timeout_key:
            req.discovery_timeout = req.host_timeout = parse_seconds("inventory", value);
            break;
        case jobs_key:
            req.jobs = parse_count("inventory", value, most_jobs);
            break;
        case format_option.key:
            req.format = parse_format("inventory", value);
            break;
        case max_hosts_key:
            req.max_hosts = parse_count("inventory", value, most_hosts);
            break;
        case compare_key:
            req.compare = value;
            break;
        default:
            req.html = value;
        }
    });
    return req;
}

QueryRequest parse_query(const GlobalOptions &, int argc, char *argv[])
{
    QueryRequest req;
    const OptionSpec specs[] = {{"timeout", timeout_key, true}};
    const auto operands = read_options("query", argc, argv, specs, [&](int, const char *value) {
        req.timeout = parse_seconds("query", value);
    });
    expect_operands("query", operands, 1, 2);

    // HOST[:PORT]: whatever follows the last colon must be a port.
    const std::string &target = operands[0];
    const auto colon = target.rfind(':');
    req.host = target.substr(0, colon);
    if (colon != std::string::npos)
        req.port = parse_port("query", std::string_view(target).substr(colon + 1));
    if (req.host.empty())
        throw UsageError("query", "missing host in '" + target + "'");

    const std::string resource = operands.size() > 1 ? operands[1] : "list";
    const auto path = resource_path(resource);
    if (!path)
        throw UsageError("query", "unknown resource '" + resource + "'");
    req.path = *path;
    return req;
}

}  // namespace zorbel::cli
