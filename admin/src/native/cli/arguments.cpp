#include "cli/arguments.h"

#include "cli/cli_error.h"

#include <getopt.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace zorbel::cli {

namespace {

constexpr int help_key = 'h';

std::string describe(const OptionSpec &option)
{
    return option.key < 256 ? std::string("-") + static_cast<char>(option.key) + ", --" + option.name
                          : std::string("--") + option.name;
}

const OptionSpec *find_spec(std::span<const OptionSpec> specs, int key)
{
    for (const auto &s : specs)
        if (s.key == key)
            return &s;
    return nullptr;
}

}  // namespace

int read_options(std::string_view command, int argc, char *argv[], std::span<const OptionSpec> specs,
                 const std::function<void(int key, const char *value)> &handle, bool stop_at_operand)
{
    // Every command accepts the global options: -r where the command has no
    // registry means nothing, and --version answers at once.
    std::vector<OptionSpec> all(specs.begin(), specs.end());
    const bool own_root = find_spec(specs, root_option.key) != nullptr;
    if (!own_root)
        all.push_back(root_option);
    if (find_spec(specs, version_option.key) == nullptr)
        all.push_back(version_option);

    // '+': stop at the first operand instead of moving options ahead of
    // operands.  ':': getopt reports a missing value as ':' and prints nothing.
    std::string letters = stop_at_operand ? "+:h" : ":h";
    std::vector<option> longopts;
    for (const auto &s : all) {
        longopts.push_back({s.name, s.takes_value ? required_argument : no_argument, nullptr, s.key});
        if (s.key < 256) {
            letters += static_cast<char>(s.key);
            if (s.takes_value)
                letters += ':';
        }
    }
    longopts.push_back({"help", no_argument, nullptr, help_key});
    longopts.push_back({nullptr, 0, nullptr, 0});

    // The first error is kept until the whole line is read: --help
    // anywhere wins over it.
    std::optional<UsageError> error;
    bool help = false, version = false;
    opterr = 0;
    optind = 0;  // glibc: start afresh, also after an earlier scan of another argv
    for (;;) {
        const int c = getopt_long(argc, argv, letters.c_str(), longopts.data(), nullptr);
        if (c == -1)
            break;
        if (c == help_key) {
            help = true;
        } else if (c == '?') {
            const std::string what = optopt != 0 ? std::string("-") + static_cast<char>(optopt)
                                                 : std::string(argv[optind - 1]);
            error.emplace(command, "unknown option '" + what + "'");
        } else if (c == ':') {
            const OptionSpec *known = find_spec(all, optopt);
            error.emplace(command, "option '" + (known ? describe(*known) : std::string(argv[optind - 1])) +
                                       "' needs a value");
        } else if (c == version_option.key && find_spec(specs, version_option.key) == nullptr) {
            version = true;
        } else if (c != root_option.key || own_root) {
            try {
                handle(c, optarg);
            } catch (const UsageError &e) {
                if (!error)
                    error.emplace(e);
            }
        }
        if (error && !help) {
            // Options after the first error may still ask for help.
            for (int i = optind; i < argc && !help; ++i)
                help = std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h";
            if (!help)
                throw *error;
        }
    }
    if (help)
        throw HelpRequest{command};
    if (version)
        throw VersionRequest{};
    return optind;
}

std::vector<std::string> read_options(std::string_view command, int argc, char *argv[],
                                      std::span<const OptionSpec> specs,
                                      const std::function<void(int key, const char *value)> &handle)
{
    const int first = read_options(command, argc, argv, specs, handle, false);
    return std::vector<std::string>(argv + first, argv + argc);
}

void expect_operands(std::string_view command, const std::vector<std::string> &operands,
                     std::size_t least, std::size_t most)
{
    if (operands.size() < least)
        throw UsageError(command, "missing operand");
    if (operands.size() > most)
        throw UsageError(command, "unexpected operand '" + operands[most] + "'");
}

int parse_port(std::string_view command, std::string_view text)
{
    int port = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        throw UsageError(command, "invalid port '" + std::string(text) + "' (1 to 65535)");
    return port;
}

int parse_count(std::string_view command, std::string_view text, int most)
{
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < 1 || n > most)
        throw UsageError(command, "invalid number '" + std::string(text) + "' (1 to " + std::to_string(most) + ")");
    return n;
}

std::chrono::milliseconds parse_seconds(std::string_view command, std::string_view text)
{
    const std::string s(text);
    char *end = nullptr;
    const double seconds = std::strtod(s.c_str(), &end);
    if (s.empty() || end != s.c_str() + s.size() || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600)
        throw UsageError(command, "invalid time '" + s + "' (seconds, above 0 and at most 3600)");
    return std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
}

}  // namespace zorbel::cli
