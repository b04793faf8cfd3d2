// Driving the real tavish binary: start it on a free loopback port with a
// temporary registry root, talk to it, and check its XML with the command
// line tools.
#pragma once

#include "process.h"
#include "run.h"
#include "sample_records.h"
#include "temp_root.h"

#include <string>
#include <vector>

namespace zorbel::test {

inline const std::string tavish_binary = TAVISH_BINARY;

inline const std::string http_head =
    "HTTP/1.0 200 OK\r\nContent-type: text/xml;charset=UTF-8\r\nConnection: Close\r\n\r\n"
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
inline const std::string response_open = "<zo1:response xmlns:zo1=\"http://www.quesk.com/zov1/zorbel\">\n";

// How a responder is started: standalone (tavish -f -t PORT), or in inetd
// mode, one tavish -i per connection handed over by systemd-socket-activate.
enum class Mode { standalone, inetd };
inline const char *name_of(Mode m) { return m == Mode::standalone ? "standalone" : "inetd"; }

// tavish -r ROOT plus `extra` on a free loopback port, standard error in a file.
class Responder {
public:
    explicit Responder(const std::vector<std::string> &extra = {}, const std::string &records = "",
                       Mode mode = Mode::standalone);
    std::vector<std::string> argv(const std::vector<std::string> &extra) const;
    // Sends `line` and "\r\n\r\n" and returns everything until the close.
    std::string get(const std::string &line) const;
    std::string stderr_text() const;

    TempRoot root;
    int port;
    std::string err_path;
    Child child;
};


// Connects to [::1]:port, retrying until the time-out passes; -1 on failure.
int connect_tcp6(int port, std::chrono::milliseconds timeout = 5s);

// The body of an HTTP response (after the blank line).
std::string body_of(const std::string &response);

// Runs an XML command line tool over `xml`: its standard output, or
// "FAILED" when it exits non-zero.
std::string xmllint(const std::string &xml, const std::string &options = "--noout");
std::string xsltproc(const std::string &stylesheet, const std::string &xml);

}  // namespace zorbel::test
