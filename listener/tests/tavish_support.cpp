#include "tavish_support.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zorbel::test {

namespace {

std::string temp_file(const TempRoot &root, const std::string &name, const std::string &content)
{
    const std::string path = root.root() + "/" + name;
    write_file(path, content);
    return path;
}

}  // namespace

Responder::Responder(const std::vector<std::string> &extra, const std::string &records, Mode mode)
    : port(free_port(SOCK_STREAM)), err_path(root.root() + "/stderr")
{
    root.write_registry(records);
    std::vector<std::string> args = argv(extra);
    if (mode == Mode::inetd) {
        args = {"/usr/bin/systemd-socket-activate", "--accept", "--inetd", "-l", "127.0.0.1:" + std::to_string(port),
                tavish_binary, "-i", "-r", root.root()};
        args.insert(args.end(), extra.begin(), extra.end());
    }
    child = Child::spawn(args, logging_to(err_path));
    wait_serving(SOCK_STREAM, port);
}

std::vector<std::string> Responder::argv(const std::vector<std::string> &extra) const
{
    std::vector<std::string> args{tavish_binary, "-f", "-t", std::to_string(port), "-r", root.root()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::string Responder::get(const std::string &line) const
{
    return tcp_exchange(port, line + "\r\n\r\n");
}

std::string Responder::stderr_text() const
{
    return read_file(err_path);
}

int connect_tcp6(int port, std::chrono::milliseconds timeout)
{
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    a.sin6_addr = in6addr_loopback;
    int fd = -1;
    eventually(
        [&] {
            fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0)
                return true;
            close(fd);
            fd = -1;
            return false;
        },
        timeout);
    return fd;
}

std::string body_of(const std::string &response)
{
    const size_t at = response.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : response.substr(at + 4);
}

std::string xmllint(const std::string &xml, const std::string &options)
{
    TempRoot scratch(bare_root);
    const auto r = run_shell("xmllint " + options + " " + temp_file(scratch, "doc.xml", xml) + " 2>&1");
    return r.status == 0 ? r.out : "FAILED: " + r.out;
}

std::string xsltproc(const std::string &stylesheet, const std::string &xml)
{
    TempRoot scratch(bare_root);
    const auto r = run_shell("xsltproc " + temp_file(scratch, "style.xsl", stylesheet) + " " +
                               temp_file(scratch, "doc.xml", xml) + " 2>&1");
    return r.status == 0 ? r.out : "FAILED: " + r.out;
}

}  // namespace zorbel::test
