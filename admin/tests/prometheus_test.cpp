// zorbel export --format prometheus, written by the shipped timer's
// service, checked by promtool and served by a real node exporter.
#include "cli_run.h"
#include "temp_root.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>

namespace zorbel::test {
namespace {

bool have(const char *program)
{
    return access(program, X_OK) == 0;
}

// The shell command of the installed service, made to read the registry
// below `root` and to write into `dir`.
std::string service_command(const std::string &root, const std::string &dir)
{
    const std::string unit = read_file(installed("lib/systemd/system/zorbel-textfile.service"));
    std::smatch m;
    if (!std::regex_search(unit, m, std::regex("ExecStart=/bin/sh -c '(.*)'\n")))
        return "";
    std::string command = std::regex_replace(m[1].str(), std::regex("/var/lib/prometheus/node-exporter"), dir);
    return std::regex_replace(command, std::regex("zorbel export"), "zorbel -r " + root + " export");
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
    const std::string command = service_command(root.root(), dir);
    ASSERT_NE(command, "");
    ASSERT_EQ(run({"/bin/sh", "-c", command}).status, 0);
    const std::string prom = read_file(dir + "/zorbel.prom");
    EXPECT_EQ(access((dir + "/zorbel.prom.tmp").c_str(), F_OK), -1);  // renamed into place
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
    EXPECT_EQ(run({"/bin/sh", "-c", service_command(broken.root(), broken_dir)}).status, 1);
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
