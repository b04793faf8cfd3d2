// tavish, the network responder: start-up, then the service loop.
#include "globals.h"
#include "reader_cache.h"
#include "lone_option.h"
#include "privileges.h"
#include "registry_start.h"
#include "service_loop.h"
#include "startup.h"
#include "strl.h"
#include "sysinfo.h"
#include "zorbel/support/protocol.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr const char *option_letters = "fvisLp:r:t:u:D:N:U:G:l:";

constexpr const char *usage_lines[] = {
    "Options:\n",
    "  -f                     do not fork() from the calling shell\n",
    "  -l logfile             redirect stderr to specified file\n",
    "  -i                     run under control of inetd(1M)\n",
    "  -L                     only respond to requests from the local loopback address\n",
    "  -s                     only respond to requests in the local subnet\n",
    "  -v                     provide verbose output\n",
    "  -p password_file       use the password contained in the file (must be 5 to 16 characters long) for AES encryption\n",
    "  -r alt_root_dir        look for Zorbel Registry under specified dir\n",
    "  -t tcp_port            use the specified udp port for communication\n",
    "  -U user                setuid to specified user\n",
    "  -G group               setgid to specified group\n",
};

struct Settings {
    bool do_daemon = true;
    bool inetd = false;
    bool local_subnet_only = false;
    bool local_loopback_only = false;
    int tcp_port = zorbel::protocol::default_port;
    std::optional<std::string> registry_location;
    std::optional<std::string> uid;
    std::optional<std::string> gid;
};

zo_env_t zo_env;

// Applies one option; false stops start-up (an operand could not be copied).
bool apply_option(Settings &s, int letter, const char *operand)
{
    using namespace zorbel::daemon;
    switch (letter) {
    case 'f': s.do_daemon = false; break;
    case 'v': ++tavish_verbose; break;
    case 'i': s.inetd = true; break;
    case 's': s.local_subnet_only = true; break;
    case 'L': s.local_loopback_only = true; break;
    case 'p':
        fputs("Encryption support not enabled, ignoring encryption key\n", stderr);
        do_encrypt = 0;
        break;
    case 'r': return copy_operand(s.registry_location, operand, "malloc(registry_location)");
    case 't': s.tcp_port = number_operand(operand); break;
    case 'U': return copy_operand(s.uid, operand, "malloc(uid)");
    case 'G': return copy_operand(s.gid, operand, "malloc(gid)");
    case 'l': redirect_stderr(operand, LogOpen::append); break;
    default: break;  // -u, -D, -N: accepted and ignored
    }
    return true;
}

// In inetd mode standard error may be the client's connection itself (a
// classic inetd hands it over as descriptors 0, 1 and 2, and no -l moved
// it): the registry library's and the XML library's diagnostics then go
// nowhere instead of into the answer.
void keep_diagnostics_off_the_connection()
{
    struct stat in {}, err {};
    if (fstat(STDIN_FILENO, &in) != 0 || fstat(STDERR_FILENO, &err) != 0 || !S_ISSOCK(err.st_mode) ||
        in.st_dev != err.st_dev || in.st_ino != err.st_ino)
        return;
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

}  // namespace

int main(int argc, char *argv[])
{
    if (const auto status = zorbel::daemon::answer_lone_option(argc, argv, usage_lines))
        return *status;
    Settings s;
    const int errors = zorbel::daemon::parse_options(
        argc, argv, option_letters, [&s](int letter, const char *operand) { return apply_option(s, letter, operand); });
    if (errors < 0)
        return 1;
    if (errors > 0) {
        zorbel::daemon::print_usage(argv[0], usage_lines);
        return zorbel::daemon::option_error_status(errors);
    }

    if (!zorbel::daemon::drop_privileges(s.uid ? s.uid->c_str() : nullptr, s.gid ? s.gid->c_str() : nullptr))
        return 1;

    std::memset(&zo_sysinfo, 0, sizeof zo_sysinfo);

    // A client that goes away mid-answer makes a send fail, in every mode;
    // it never ends the process.
    signal(SIGPIPE, SIG_IGN);
    if (s.inetd) {
        tavish_verbose = 0;
        keep_diagnostics_off_the_connection();
    } else {
        if (s.do_daemon)
            zorbel::daemon::make_daemon_process();
        // A long-running reader: answer from the last validated parse while
        // the registry provably has not changed.
        zorbel::set_registry_cache(true);
    }

    zorbel::daemon::open_registry(s.registry_location, zo_env, tavish_verbose > 0);
    strlcpy(registry_version, zo_env.registry_version, sizeof registry_version);

    agent_ctx.zo_env = &zo_env;
    agent_ctx.port = s.tcp_port;

    receive_tcp_connections(s.inetd, s.local_subnet_only, s.local_loopback_only, s.tcp_port, &zo_env);
}
