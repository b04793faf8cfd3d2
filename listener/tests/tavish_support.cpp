#include "tavish_support.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace zorbel::test {

namespace {

std::string temp_file(const TempRoot &root, const std::string &name, const std::string &content)
{
    const std::string path = root.root() + "/" + name;
    write_file(path, content);
    return path;
}

}  // namespace

Responder::Responder(const std::vector<std::string> &extra, const std::string &records)
    : port(free_port(SOCK_STREAM)), err_path(root.root() + "/stderr")
{
    root.write_registry(records);
    child = Child::spawn(argv(extra), stderr_to(err_path));
    wait_listening(port);
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

SpawnOptions stderr_to(const std::string &path)
{
    SpawnOptions o;
    o.stderr_path = path;
    return o;
}

TempRoot::Options bare_root()
{
    TempRoot::Options o;
    o.make_registry_dir = false;
    return o;
}

bool wait_listening(int port)
{
    const int fd = connect_tcp(port, 5s);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
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

RunResult run_command(const std::string &command)
{
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0)
        out.append(buf, n);
    const int status = pclose(pipe.release());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

RunResult run_tavish(const TempRoot &root, const std::vector<std::string> &args)
{
    const std::string err = root.root() + "/run.err";
    write_file(err, "");
    Child c = Child::spawn(args, stderr_to(err));
    const int status = c.wait_exit_code(10s);
    return {status, read_file(err)};
}

std::string xmllint(const std::string &xml, const std::string &options)
{
    TempRoot scratch(bare_root());
    const auto r = run_command("xmllint " + options + " " + temp_file(scratch, "doc.xml", xml) + " 2>&1");
    return r.status == 0 ? r.out : "FAILED: " + r.out;
}

std::string xsltproc(const std::string &stylesheet, const std::string &xml)
{
    TempRoot scratch(bare_root());
    const auto r = run_command("xsltproc " + temp_file(scratch, "style.xsl", stylesheet) + " " +
                               temp_file(scratch, "doc.xml", xml) + " 2>&1");
    return r.status == 0 ? r.out : "FAILED: " + r.out;
}

}  // namespace zorbel::test
