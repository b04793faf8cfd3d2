// The daemons' shared start-up steps, in process: a lone --help or
// --version, option reading and its diagnostics, the exit status for option
// errors, numeric operands, the escaping of network bytes in log lines, the
// -l redirection and detaching from the calling shell.
#include "lone_option.h"
#include "process.h"
#include "startup.h"
#include "zorbel/support/log_escape.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace zorbel::daemon;

// argv for the functions under test: "prog" and `args`, in `storage`.
std::vector<char *> make_argv(std::vector<std::string> &storage, const std::vector<std::string> &args)
{
    storage = {"prog"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

TEST(LoneOption, OnlyALoneHelpOrVersionIsAnswered)
{
    const char *const lines[] = {"Options:\n", "  -f   stay\n"};
    const struct {
        std::vector<std::string> args;
        std::optional<int> status;
        std::string out;
    } rows[] = {
        {{"--help"}, 0, "Usage: prog [options]\nOptions:\n  -f   stay\n"},
        {{"--version"}, 0, "prog " ZORBEL_VERSION "\n"},
        {{"--help", "-f"}, std::nullopt, ""},  // not lone: the option letters read it
        {{"-f", "--version"}, std::nullopt, ""},
        {{"--helpx"}, std::nullopt, ""},
        {{}, std::nullopt, ""},
    };
    for (const auto &r : rows) {
        std::vector<std::string> storage;
        std::vector<char *> argv = make_argv(storage, r.args);
        testing::internal::CaptureStdout();
        const auto status =
            answer_lone_option(static_cast<int>(argv.size() - 1), argv.data(), lines);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), r.out) << testing::PrintToString(r.args);
        EXPECT_EQ(status, r.status) << testing::PrintToString(r.args);
    }
}

struct OptionCase {
    std::vector<std::string> args;  // after the program name
    int stop_at;                    // letter whose handler refuses, or 0
    int result;
    std::string handled;  // "letter=operand;" per handled option
    std::string diagnostics;
};

class ParseOptions : public testing::TestWithParam<OptionCase> {};

TEST_P(ParseOptions, HandsOnOptionsAndCountsErrors)
{
    const OptionCase &c = GetParam();
    std::vector<std::string> storage;
    std::vector<char *> argv = make_argv(storage, c.args);
    optind = 0;  // full re-initialisation of getopt between rows
    std::string handled;
    testing::internal::CaptureStderr();
    const int result = parse_options(static_cast<int>(argv.size() - 1), argv.data(), "fvp:r:",
                                     [&](int letter, const char *operand) {
                                         handled += static_cast<char>(letter);
                                         handled += "=" + std::string(operand ? operand : "") + ";";
                                         return letter != c.stop_at;
                                     });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.diagnostics);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(handled, c.handled);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ParseOptions,
    testing::Values(OptionCase{{"-f", "-p", "80", "-r/tmp/x"}, 0, 0, "f=;p=80;r=/tmp/x;", ""},
                    OptionCase{{"-fv"}, 0, 0, "f=;v=;", ""},
                    OptionCase{{"-x"}, 0, 1, "", "Unrecognized option: -x\n"},
                    OptionCase{{"-p"}, 0, 1, "", "Option -p requires an operand\n"},
                    OptionCase{{"-x", "-y", "-f"}, 0, 2, "f=;", "Unrecognized option: -x\nUnrecognized option: -y\n"},
                    OptionCase{{"-f", "-v", "-p", "1"}, 'v', -1, "f=;v=;", ""}));

TEST(OptionErrorStatus, NeverReadsAsSuccess)
{
    for (const auto &[errors, status] : std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {255, 255}, {256, 255}, {1000, 255}})
        EXPECT_EQ(option_error_status(errors), status) << errors;
}

TEST(NumberOperand, ReadsLikeAtoiAndWrapsBeyondInt)
{
    const std::vector<std::pair<const char *, int>> rows{
        {"6481", 6481}, {"  -7", -7}, {"+3", 3}, {"12abc", 12}, {"abc", 0}, {"", 0},
        {"4294967297", 1}, {"2147483648", INT_MIN}};
    for (const auto &[text, value] : rows)
        EXPECT_EQ(number_operand(text), value) << '"' << text << '"';
}

TEST(EscapeForLog, ControlBytesDelAndBackslashAreEscaped)
{
    using namespace std::string_view_literals;
    const std::vector<std::pair<std::string_view, std::string>> rows{
        {"GET / HTTP/1.0", "GET / HTTP/1.0"},
        {"a\nb\r", "a\\x0ab\\x0d"},
        {"\x7f", "\\x7f"},
        {"\x1b[31m", "\\x1b[31m"},
        {"a\\b", "a\\\\b"},
        {"\0x"sv, "\\x00x"},
        {"\x1f \x20", "\\x1f  "},
        {"caf\xc3\xa9 \x80\xff", "caf\xc3\xa9 \x80\xff"},
    };
    for (const auto &[bytes, shown] : rows)
        EXPECT_EQ(zorbel::escape_for_log(bytes), shown);
}

// Keeps the test's own standard error across a redirection.
class StderrRedirect : public testing::Test {
protected:
    void SetUp() override
    {
        saved_ = dup(STDERR_FILENO);
        ASSERT_GE(saved_, 0);
        dir_ = std::filesystem::temp_directory_path() / ("startup_test." + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override
    {
        fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        std::filesystem::remove_all(dir_);
    }
    static std::string content(const std::filesystem::path &p)
    {
        std::ostringstream s;
        s << std::ifstream(p).rdbuf();
        return s.str();
    }
    int saved_ = -1;
    std::filesystem::path dir_;
};

TEST_F(StderrRedirect, AppendsToTheLogOrCreatesIt)
{
    const auto log = dir_ / "log";
    std::ofstream(log) << "earlier\n";
    redirect_stderr(log.c_str(), LogOpen::append);
    fputs("later\n", stderr);
    fflush(stderr);
    EXPECT_EQ(content(log), "earlier\nlater\n");
    EXPECT_EQ(fcntl(STDERR_FILENO, F_GETFD) & FD_CLOEXEC, 0);  // survives exec

    // A missing log is made with mode 0666 less the umask, either way.
    const mode_t mask = umask(027);
    for (const LogOpen how : {LogOpen::append, LogOpen::exclusive}) {
        const auto fresh = dir_ / ("fresh" + std::to_string(static_cast<int>(how)));
        redirect_stderr(fresh.c_str(), how);
        fputs("first\n", stderr);
        fflush(stderr);
        EXPECT_EQ(content(fresh), "first\n");
        struct stat st{};
        EXPECT_EQ(stat(fresh.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
    umask(mask);
}

TEST_F(StderrRedirect, FailureKeepsStandardErrorAndSaysSo)
{
    // A symbolic link or anything but a regular file is refused: the file a
    // link names is never written, and a FIFO holds nothing up.
    const auto taken = dir_ / "taken", link = dir_ / "link", fifo = dir_ / "fifo";
    std::ofstream(taken) << "x";
    std::filesystem::create_symlink(taken, link);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const auto &[path, how] : std::vector<std::pair<std::filesystem::path, LogOpen>>{
             {dir_ / "missing" / "log", LogOpen::append}, {taken, LogOpen::exclusive}, {dir_, LogOpen::append},
             {link, LogOpen::append}, {fifo, LogOpen::append}}) {
        testing::internal::CaptureStderr();
        redirect_stderr(path.c_str(), how);
        fputs("still here\n", stderr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Unable to open log file: " + path.string() + "\nstill here\n");
    }
    EXPECT_EQ(content(taken), "x");
}

// The detached process: its pid, its session and whether it ignores
// SIGHUP and the terminal stop signals, as one line.
std::string detached_state()
{
    const auto ignored = [](int sig) {
        struct sigaction now{};
        sigaction(sig, nullptr, &now);
        return now.sa_handler == SIG_IGN ? "ignored" : "handled";
    };
    return std::to_string(getpid()) + " session " + std::to_string(getsid(0)) + " HUP " + ignored(SIGHUP) +
           " TTOU " + ignored(SIGTTOU) + " TTIN " + ignored(SIGTTIN) + " TSTP " + ignored(SIGTSTP) + "\n";
}

// The caller exits with status 0 at once; the process that goes on is
// another one, in a session of its own, deaf to hang-ups and terminal stops.
TEST(Detach, TheCallerReturnsAndTheDaemonLeadsItsOwnSession)
{
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    zorbel::test::Child caller = zorbel::test::Child::fork_call([&] {
        close(pipe_fds[0]);
        make_daemon_process();
        const std::string state = detached_state();
        return write(pipe_fds[1], state.data(), state.size()) == static_cast<ssize_t>(state.size()) ? 0 : 1;
    });
    close(pipe_fds[1]);
    const pid_t caller_pid = caller.pid();
    EXPECT_EQ(caller.wait_exit_code(), 0);
    std::string state;
    char buf[256];
    for (pollfd p{pipe_fds[0], POLLIN, 0}; poll(&p, 1, 5000) > 0;) {
        const ssize_t n = read(pipe_fds[0], buf, sizeof buf);
        if (n <= 0)
            break;
        state.append(buf, static_cast<size_t>(n));
    }
    close(pipe_fds[0]);
    const pid_t daemon = static_cast<pid_t>(atoi(state.c_str()));
    EXPECT_NE(daemon, caller_pid);
    EXPECT_EQ(state, std::to_string(daemon) + " session " + std::to_string(daemon) +
                         " HUP ignored TTOU ignored TTIN ignored TSTP ignored\n");
}

}  // namespace
