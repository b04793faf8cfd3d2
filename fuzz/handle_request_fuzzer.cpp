// Feeds arbitrary bytes to the responder as a client would: they arrive on
// a socket, one connection is served on it as inetd mode serves one (request
// line, answer, drain, close), and the answer is read back.  A request line
// of printable characters must always get either nothing or a complete,
// well-formed XML document.
#include "connection.h"
#include "globals.h"
#include "zorbel/support/unique_fd.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

zo_env_t env;
zorbel::UniqueFd client;
std::string scratch_root;

void remove_scratch_root()
{
    std::error_code ec;
    std::filesystem::remove_all(scratch_root, ec);
}

void write_registry(const std::string &dir)
{
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(ZORBEL_FUZZ_DTD, dir + "/zorbel.dtd",
                               std::filesystem::copy_options::overwrite_existing);
    const char *records[] = {"urn:zo:1", "urn:zo:a&amp;b&lt;c&gt;\"d'", "urn:zo:&amp;lt;"};
    std::ofstream out(dir + "/zorbel.xml");
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE registry SYSTEM \"" << dir
        << "/zorbel.dtd\">\n<registry urn=\"urn:zo:0\" version=\"1.1.4\">";
    for (const char *urn : records)
        out << "<zorbel><instance_urn>" << urn << "</instance_urn><product_name>R&amp;D &lt;b&gt;</product_name>"
            << "<product_urn>urn:p:&quot;</product_urn><installer_uid>0</installer_uid></zorbel>";
    out << "</registry>\n";
}

std::string read_all(int fd)
{
    std::string out;
    char buf[65536];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        out.append(buf, static_cast<size_t>(n));
    return out;
}

bool printable(const std::string &line)
{
    for (const char c : line)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    signal(SIGPIPE, SIG_IGN);
    scratch_root = std::filesystem::temp_directory_path() / ("tavish-fuzz-" + std::to_string(getpid()));
    std::atexit(remove_scratch_root);
    write_registry(scratch_root + "/var/sadm/zorbel/registry");
    if (zo_initialize(scratch_root.c_str(), &env) != ZO_ERR_NO_ERROR)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 32768)
        return 0;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        abort();
    zorbel::UniqueFd server(fds[0]);
    client.reset(fds[1]);
    int buffer = 1 << 20;
    setsockopt(client.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    setsockopt(server.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    if (write(client.get(), data, size) != static_cast<ssize_t>(size))
        abort();
    shutdown(client.get(), SHUT_WR);

    zorbel::tavish::Connection connection(std::move(server), zorbel::tavish::Clock::now());
    zorbel::tavish::serve_alone(connection, &env);

    const std::string response = read_all(client.get());
    const std::string input(reinterpret_cast<const char *>(data), size);
    if (response.empty() || !printable(input.substr(0, std::min(input.find('\n'), size_t{16383}))))
        return 0;
    const size_t body = response.find("\r\n\r\n");
    if (body == std::string::npos)
        abort();
    xmlDocPtr doc = xmlReadMemory(response.data() + body + 4, static_cast<int>(response.size() - body - 4),
                                  "response.xml", nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr)
        abort();  // the responder sent a document that is not well-formed
    xmlFreeDoc(doc);
    return 0;
}
