// The daemons' shared start-up steps, in process: option reading and its
// diagnostics, the exit status for option errors, numeric operands, the
// escaping of network bytes in log lines and the -l redirection.
#include "startup.h"
#include "zorbel/support/log_escape.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace zorbel::daemon;

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
    std::vector<std::string> storage{"prog"};
    storage.insert(storage.end(), c.args.begin(), c.args.end());
    std::vector<char *> argv;
    for (std::string &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    optind = 0;  // full re-initialisation of getopt between rows
    std::string handled;
    testing::internal::CaptureStderr();
    const int result = parse_options(static_cast<int>(storage.size()), argv.data(), "fvp:r:",
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
}

TEST_F(StderrRedirect, FailureKeepsStandardErrorAndSaysSo)
{
    const auto taken = dir_ / "taken";
    std::ofstream(taken) << "x";
    for (const auto &[path, how] : std::vector<std::pair<std::filesystem::path, LogOpen>>{
             {dir_ / "missing" / "log", LogOpen::append}, {taken, LogOpen::exclusive}, {dir_, LogOpen::append}}) {
        testing::internal::CaptureStderr();
        redirect_stderr(path.c_str(), how);
        fputs("still here\n", stderr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Unable to open log file: " + path.string() + "\nstill here\n");
    }
    EXPECT_EQ(content(taken), "x");
}

}  // namespace
