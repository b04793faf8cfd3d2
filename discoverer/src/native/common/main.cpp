// brenloch, the discovery responder: answers UDP probes with the registry
// URN and the TCP port at which the network responder serves the records.
#include "discovery.h"
#include "lone_option.h"
#include "privileges.h"
#include "registry_start.h"
#include "startup.h"
#include "zorbel.h"
#include "zorbel/support/protocol.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace {

using namespace zorbel::daemon;

constexpr const char *option_letters = "fvir:u:t:N:U:G:l:";

constexpr std::array<const char *, 10> usage_lines = {
    "Options:\n",
    "  -f                     do not fork() from the calling shell\n",
    "  -l logfile             redirect stderr to specified file\n",
    "  -i                     run under control of inetd(1M)\n",
    "  -v                     provide verbose output\n",
    "  -r alt_root_dir        look for Zorbel Registry under specified dir\n",
    "  -u udp_port            use the specified udp port for zo-disc discovery\n",
    "  -t tcp_port            advertise this TCP port for zo-disc discovery\n",
    "  -U user                setuid to specified user\n",
    "  -G group               setgid to specified group\n",
};

struct Settings {
    int udp_port = zorbel::protocol::default_port;
    int tcp_port = zorbel::protocol::default_port;
    bool inetd = false;
    int probe_fd = 0;  // inetd hands the bound socket over as standard input
    bool do_daemon = true;
    std::optional<std::string> registry_location;
    std::optional<std::string> uid;
    std::optional<std::string> gid;
};

bool apply_option(Settings &s, int letter, const char *operand)
{
    switch (letter) {
    case 'f': s.do_daemon = false; break;
    case 'v': ++brenloch_verbose; break;
    case 'i': s.inetd = true; break;
    case 'r': return copy_operand(s.registry_location, operand, "malloc(registry_location)");
    case 'u': s.udp_port = number_operand(operand); break;
    case 't': s.tcp_port = number_operand(operand); break;
    case 'N': break;  // accepted for compatibility, no effect
    case 'U': return copy_operand(s.uid, operand, "malloc(uid)");
    case 'G': return copy_operand(s.gid, operand, "malloc(gid)");
    case 'l': redirect_stderr(operand, LogOpen::exclusive); break;
    }
    return true;
}

zo_env_t zo_env;  // the process's registry environment, for its whole life

}  // namespace

int main(int argc, char *argv[])
{
    if (const auto status = answer_lone_option(argc, argv, usage_lines))
        return *status;
    Settings s;
    const int errors = parse_options(argc, argv, option_letters,
                                     [&s](int letter, const char *operand) { return apply_option(s, letter, operand); });
    if (errors < 0)
        return 1;
    if (errors > 0) {
        print_usage(argv[0], usage_lines);
        return option_error_status(errors);
    }

    if (!s.inetd && s.do_daemon)
        make_daemon_process();
    if (!drop_privileges(s.uid ? s.uid->c_str() : nullptr, s.gid ? s.gid->c_str() : nullptr))
        return 1;

    // Without a registry the replies carry an empty URN.
    open_registry(s.registry_location, zo_env, brenloch_verbose > 0);

    receive_discovery_messages(s.udp_port, s.tcp_port, s.inetd, s.probe_fd);
}
