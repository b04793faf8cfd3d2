// zorbel export --format prometheus, written by the shipped timer's
// service, checked by promtool and served by a real node exporter.
#include "cli_run.h"
#include "temp_root.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

namespace zorbel::test {
namespace {

bool have(const char *program)
{
    return access(program, X_OK) == 0;
}

// The command line of the installed service, made to read the registry
// below `root` and to write into `dir`.
std::vector<std::string> service_command(const std::string &root, const std::string &dir)
{
    const std::string unit = read_file(installed("lib/systemd/system/zorbel-textfile.service"));
    std::smatch m;
    if (!std::regex_search(unit, m, std::regex("\nExecStart=([^\n]*)\n")))
        return {};
    std::istringstream words(std::regex_replace(m[1].str(), std::regex("/var/lib/prometheus/node-exporter"), dir));
    std::vector<std::string> argv;
    for (std::string word; words >> word;)
        argv.push_back(word);
    argv.insert(argv.begin() + 1, {"-r", root});
    return argv;
}

// The names in `dir`, sorted.
std::vector<std::string> entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Prometheus, ExportOutputReplacesTheFileWholeOrNotAtAll)
{
    TempRoot root, unreadable(bare_root);
    const std::string dir = root.root() + "/textfile", file = dir + "/zorbel.prom";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    // Whatever the umask, the collector's account can read the file.
    auto r = run_shell("umask 077; " + installed("bin/zorbel") + " -r " + root.root() +
                       " export --format prometheus --output " + file);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const std::string written = read_file(file);
    EXPECT_NE(written.find("\nzorbel_registry_records 0\n"), std::string::npos) << written;
    EXPECT_TRUE(std::regex_search(written, std::regex("\nzorbel_export_timestamp_seconds [0-9]+\n$"))) << written;
    struct stat st{};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    struct Case {
        const char *name;
        std::vector<std::string> args;
        std::string error;
    };
    const Case failures[] = {
        {"registry unreadable", {"-r", unreadable.root(), "export", "--output", file}, "zorbel: "},
        {"a directory in the way", {"-r", root.root(), "export", "-o", dir + "/sub"}, "zorbel: " + dir + "/sub: "},
        {"no such directory", {"-r", root.root(), "export", "-o", dir + "/none/x.prom"}, "zorbel: " + dir + "/none/x.prom: "},
    };
    for (const auto &c : failures) {
        r = zorbel(c.args);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(r.err.starts_with(c.error)) << c.name << ": " << r.err;
        EXPECT_EQ(read_file(file), written) << c.name;
        EXPECT_EQ(entries(dir), (std::vector<std::string>{"sub", "zorbel.prom"})) << c.name;
    }
}

TEST(Prometheus, TextfileIsValidAndServedByTheNodeExporter)
{
    TempRoot root;
    std::vector<std::string> urns;
    for (const std::string name : {"Plain", "Quote \" back\\slash", "Line\nfeed Ünï"}) {
        const auto r = zorbel({"-r", root.root(), "add", "--product-name", name, "--product-version", "1",
                               "--product-urn", "urn:product:x", "--product-parent", "P", "--vendor", "V",
                               "--arch", "x86_64", "--container", "c", "--source", "s"});
        ASSERT_EQ(r.status, 0) << r.err;
        urns.push_back(r.out.substr(0, r.out.find('\n')));
    }
    const std::string dir = root.root() + "/textfile";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    const auto command = service_command(root.root(), dir);
    ASSERT_EQ(command.size(), 8u);
    EXPECT_EQ(command[0], installed("bin/zorbel"));
    ASSERT_EQ(run(command).status, 0);
    const std::string prom = read_file(dir + "/zorbel.prom");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"zorbel.prom"});  // renamed into place
    EXPECT_NE(prom.find("product_name=\"Quote \\\" back\\\\slash\""), std::string::npos) << prom;
    EXPECT_NE(prom.find("product_name=\"Line\\nfeed Ünï\""), std::string::npos) << prom;
    EXPECT_NE(prom.find("\nzorbel_registry_records 3\n"), std::string::npos) << prom;
    // Per instance, a series whose labels an update leaves alone, with the
    // record's time as its value; then whether and when the export read.
    const std::regex stamp("\nzorbel_product_instance_timestamp_seconds\\{instance_urn=\"" + urns[0] +
                           "\",product_name=\"Plain\",product_version=\"1\",product_urn=\"urn:product:x\","
                           "product_parent=\"P\",product_vendor=\"V\",platform_arch=\"x86_64\",container=\"c\","
                           "source=\"s\"\\} 1[0-9]{9}\n");
    EXPECT_TRUE(std::regex_search(prom, stamp)) << prom;
    EXPECT_TRUE(std::regex_search(prom, std::regex("\nzorbel_registry_up 1\n[^]*\nzorbel_export_timestamp_seconds "
                                                   "1[0-9]{9}\n$")))
        << prom;

    // A registry that cannot be read: the service fails, and the file says so.
    TempRoot broken;
    write_file(broken.registry_file(), "<registry");
    const std::string broken_dir = broken.root() + "/textfile";
    ASSERT_EQ(mkdir(broken_dir.c_str(), 0755), 0);
    EXPECT_EQ(run(service_command(broken.root(), broken_dir)).status, 1);
    EXPECT_NE(read_file(broken_dir + "/zorbel.prom").find("\nzorbel_registry_up 0\n"), std::string::npos);

    if (!have("/usr/bin/promtool") || !have("/usr/bin/prometheus-node-exporter") || !have("/usr/bin/curl"))
        GTEST_SKIP() << "promtool, prometheus-node-exporter or curl not installed";
    const auto check = run({"/bin/sh", "-c", "/usr/bin/promtool check metrics < " + dir + "/zorbel.prom"});
    EXPECT_EQ(check.status, 0) << check.out << check.err;

    const int port = free_port(SOCK_STREAM);
    Child exporter = Child::spawn({"/usr/bin/prometheus-node-exporter", "--collector.disable-defaults",
                                   "--collector.textfile", "--collector.textfile.directory=" + dir,
                                   "--web.listen-address=127.0.0.1:" + std::to_string(port)},
                                  logging_to(root.root() + "/exporter.err"));
    std::string metrics;
    EXPECT_TRUE(eventually([&] {
        metrics = run({"/usr/bin/curl", "-sf", "http://127.0.0.1:" + std::to_string(port) + "/metrics"}).out;
        return !metrics.empty();
    }));
    for (const auto &urn : urns)
        EXPECT_TRUE(std::regex_search(metrics, std::regex("zorbel_product_instance_info\\{[^\n]*instance_urn=\"" + urn +
                                                          "\"[^\n]*\\} 1\n")))
            << urn << "\n" << metrics;
    EXPECT_NE(metrics.find("\nzorbel_registry_records 3\n"), std::string::npos);
    EXPECT_NE(metrics.find("\nnode_textfile_scrape_error 0\n"), std::string::npos) << metrics;
}

}  // namespace
}  // namespace zorbel::test
