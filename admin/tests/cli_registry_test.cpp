// The registry commands of the installed zorbel, run as an installer
// script runs them, against a temporary registry root.
#include "cli_run.h"
#include "csv_reader.h"
#include "sample_records.h"
#include "temp_root.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <sstream>

namespace zorbel::test {
namespace {

class CliRegistry : public ::testing::Test {
protected:
    TempRoot root;

    RunResult cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"-r", root.root()});
        return zorbel(args);
    }

    // The options of a complete record; `extra` is appended.
    static std::vector<std::string> add_args(const std::string &name, const std::string &product_urn,
                                             std::vector<std::string> extra = {})
    {
        std::vector<std::string> a{"add",       "--product-name",   name,         "--product-version",
                                   "2.1",       "--product-urn",    product_urn,  "--product-parent",
                                   "Suite",     "--vendor",         "Quesk",      "--arch",
                                   "x86_64",    "--container",      "/opt/quesk", "--source",
                                   "pkg"};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }

    std::string add(const std::string &name, const std::string &product_urn = "urn:product:db",
                    std::vector<std::string> extra = {})
    {
        const auto r = cli(add_args(name, product_urn, std::move(extra)));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        return r.out.empty() ? "" : r.out.substr(0, r.out.size() - 1);
    }

    std::vector<std::string> lines(const std::string &text)
    {
        std::vector<std::string> v;
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);)
            v.push_back(l);
        return v;
    }
};

TEST_F(CliRegistry, AddPrintsGeneratedUrnAndGetShowsEveryFieldInRecordOrder)
{
    const std::string urn = add("Data <Base> & Co", "urn:product:db", {"--defined-inst-id", "inst-7"});
    EXPECT_TRUE(std::regex_match(urn, std::regex("urn:zo:[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")))
        << urn;

    const auto r = cli({"get", urn});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto got = lines(r.out);
    ASSERT_EQ(got.size(), 13u) << r.out;
    const std::vector<std::string> expect_start{
        "instance_urn=" + urn,           "product_name=Data <Base> & Co", "product_version=2.1",
        "product_urn=urn:product:db",    "product_parent_urn=",           "product_parent=Suite",
        "product_defined_inst_id=inst-7", "product_vendor=Quesk",          "platform_arch=x86_64"};
    for (std::size_t i = 0; i < expect_start.size(); ++i)
        EXPECT_EQ(got[i], expect_start[i]);
    EXPECT_TRUE(std::regex_match(got[9], std::regex(R"(timestamp=\d{4}-\d\d-\d\d \d\d:\d\d:\d\d GMT)"))) << got[9];
    EXPECT_EQ(got[10], "container=/opt/quesk");
    EXPECT_EQ(got[11], "source=pkg");
    EXPECT_EQ(got[12], "installer_uid=" + std::to_string(getuid()));
}

TEST_F(CliRegistry, GetEscapesControlBytesAndEveryFormatCarriesEveryField)
{
    const std::string vendor = "V\nproduct_vendor=FORGED", source = "s\\x\ty";
    const std::string a = add("Data, \"Base\"", "urn:product:db", {"--vendor", vendor, "--source", source});
    const std::string b = add("Ünï <b>", "urn:product:other");

    const auto lines_of_get = lines(cli({"get", a}).out);
    ASSERT_EQ(lines_of_get.size(), 13u);
    EXPECT_EQ(lines_of_get[7], "product_vendor=V\\x0aproduct_vendor=FORGED");
    EXPECT_EQ(lines_of_get[11], "source=s\\\\x\\x09y");

    const auto json = nlohmann::json::parse(cli({"list", "--format", "json"}).out);
    ASSERT_EQ(json.size(), 2u) << json;
    const std::vector<std::string> fields{"instance_urn", "product_name", "product_version", "product_urn",
                                          "product_parent_urn", "product_parent", "product_defined_inst_id",
                                          "product_vendor", "platform_arch", "timestamp", "container", "source",
                                          "installer_uid"};
    for (const auto &rec : json) {
        ASSERT_EQ(rec.size(), fields.size()) << rec;
        for (const auto &f : fields)
            EXPECT_TRUE(rec.contains(f)) << f;
        EXPECT_EQ(rec["installer_uid"], getuid());
    }
    EXPECT_EQ(json[0]["instance_urn"], a);
    EXPECT_EQ(json[0]["product_vendor"], vendor);
    EXPECT_EQ(json[0]["source"], source);
    EXPECT_EQ(json[1]["product_name"], "Ünï <b>");
    EXPECT_EQ(nlohmann::json::parse(cli({"get", a, "--format", "json"}).out), json[0]);

    const auto jsonl = lines(cli({"list", "--format", "jsonl"}).out);
    ASSERT_EQ(jsonl.size(), 2u);
    EXPECT_EQ(nlohmann::json::parse(jsonl[1]), json[1]);

    const auto csv = read_csv(cli({"list", "--format", "csv"}).out);
    ASSERT_EQ(csv.size(), 3u);
    EXPECT_EQ(csv[0], fields);
    for (std::size_t i = 0; i < fields.size(); ++i)
        EXPECT_EQ(csv[1][i], json[0][fields[i]].is_string() ? json[0][fields[i]].get<std::string>()
                                                            : std::to_string(getuid()));
    EXPECT_EQ(read_csv(cli({"list", "-p", "urn:product:other", "--format", "csv"}).out).at(1).at(0), b);

    const auto table = lines(cli({"list", "--format", "table"}).out);
    ASSERT_EQ(table.size(), 3u);  // heading and one line per record, whatever the values hold
    EXPECT_TRUE(table[0].starts_with("product_name  ")) << table[0];
    EXPECT_NE(table[1].find("V\\x0aproduct_vendor=FORGED"), std::string::npos) << table[1];
}

TEST_F(CliRegistry, ListExportAndUrnShowTheRegistry)
{
    EXPECT_EQ(cli({"list"}).out, "");  // empty registry: nothing, success
    const std::string a = add("A"), b = add("B", "urn:product:other"), c = add("C");

    auto r = cli({"list"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, a + "\n" + b + "\n" + c + "\n");
    r = cli({"list", "--product", "urn:product:db"});
    EXPECT_EQ(r.out, a + "\n" + c + "\n");
    EXPECT_EQ(cli({"list", "-p", "urn:product:none"}).out, "");

    const auto urn = cli({"urn"});
    ASSERT_EQ(urn.status, 0);
    const auto exported = cli({"export"});
    ASSERT_EQ(exported.status, 0);
    EXPECT_TRUE(exported.out.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")) << exported.out;
    EXPECT_NE(exported.out.find("<registry urn=\"" + urn.out.substr(0, urn.out.size() - 1) + "\""),
              std::string::npos);
    EXPECT_NE(exported.out.find("<instance_urn>" + b + "</instance_urn>"), std::string::npos);
}

TEST_F(CliRegistry, RootMayFollowTheCommand)
{
    const std::string urn = add("A");
    const auto r = zorbel({"list", "--root", root.root()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, urn + "\n");
}

TEST_F(CliRegistry, GivenInstanceUrnIsStoredAndADuplicateIsRefused)
{
    EXPECT_EQ(add("A", "urn:product:db", {"--instance-urn", "urn:zo:given"}), "urn:zo:given");
    const std::string before = read_file(root.registry_file());
    const auto r = cli(add_args("B", "urn:product:db", {"--instance-urn", "urn:zo:given"}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zorbel: urn:zo:given: Duplicate record\n");
    EXPECT_EQ(read_file(root.registry_file()), before);
}

TEST_F(CliRegistry, FieldLimitsAreTheLibrarys)
{
    add("A");
    const std::string before = read_file(root.registry_file());
    // 64 bytes do not fit a 64-byte field: refused, never stored cut short.
    auto r = cli(add_args("B", "urn:product:db", {"--product-version", std::string(64, 'v')}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorbel: product_version: Max. field length exceeded\n");
    r = cli(add_args("B", "urn:product:db", {"--instance-urn", "urn:zo:" + std::string(300, 'x')}));
    EXPECT_EQ(r.err, "zorbel: instance_urn: Max. field length exceeded\n");
    r = cli(add_args("B", "urn:product:db", {"--container", "", "--vendor", ""}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorbel: product_vendor, container: Missing required field(s)\n");
    EXPECT_EQ(read_file(root.registry_file()), before);

    const std::string urn = add("C", "urn:product:db", {"--product-version", std::string(63, 'v')});
    EXPECT_NE(cli({"get", urn}).out.find("product_version=" + std::string(63, 'v') + "\n"), std::string::npos);
}

TEST_F(CliRegistry, UpdateChangesOnlyTheGivenValue)
{
    const std::string urn = add("A", "urn:product:db", {"--parent-urn", "urn:old", "--defined-inst-id", "id-1"});
    auto r = cli({"update", urn, "--parent-urn", "urn:new&more"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const auto got = cli({"get", urn}).out;
    EXPECT_NE(got.find("product_parent_urn=urn:new&more\n"), std::string::npos) << got;
    EXPECT_NE(got.find("product_defined_inst_id=id-1\n"), std::string::npos) << got;

    r = cli({"update", "--defined-inst-id", "id-2", urn});  // options may come first
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(cli({"get", urn}).out.find("product_defined_inst_id=id-2\n"), std::string::npos);

    r = cli({"update", "urn:zo:nosuch", "--parent-urn", "x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorbel: urn:zo:nosuch: Record not found\n");
}

TEST_F(CliRegistry, DeleteRemovesExactlyOneRecord)
{
    const std::string a = add("A"), b = add("B"), c = add("C");
    auto r = cli({"delete", b});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(cli({"list"}).out, a + "\n" + c + "\n");
    r = cli({"delete", b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zorbel: " + b + ": Record not found\n");
    r = cli({"get", b});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zorbel: " + b + ": Record not found\n");
}

// Each failure names the file or directory and the system's reason, and
// neither creates nor changes a registry file.
TEST_F(CliRegistry, RegistryProblemsNameThePathAndTheReason)
{
    struct Case {
        std::string name;
        std::function<void(const TempRoot &)> prepare;
        std::function<std::string(const TempRoot &)> err_end;  // standard error ends with "zorbel: " and this
        bool as_nobody = false;
    };
    const auto no_dtd = [](const TempRoot &t) {
        return t.registry_file() + ": Invalid XML (its DTD " + t.dtd_file() +
               " cannot be loaded: No such file or directory; copy zorbel.dtd there, or run 'zorbel init' (with "
               "--dtd FILE for a root other than /))\n";
    };
    const Case cases[] = {
        {"no registry directory", [](const TempRoot &t) { std::filesystem::remove_all(t.root() + "/var"); },
         [](const TempRoot &t) { return t.registry_dir() + ": Unable to open directory or file (No such file or directory)\n"; }},
        {"not xml", [](const TempRoot &t) { write_file(t.registry_file(), "not xml"); },
         [](const TempRoot &t) {
             return t.registry_file() + ": Invalid XML (not well-formed, or without a document type declaration)\n";
         }},
        {"empty", [](const TempRoot &t) { write_file(t.registry_file(), ""); },
         [](const TempRoot &t) { return t.registry_file() + ": Invalid XML (empty file)\n"; }},
        {"DTD missing on first use", [](const TempRoot &t) { std::filesystem::remove(t.dtd_file()); }, no_dtd},
        {"DTD missing later",
         [](const TempRoot &t) {
             t.write_registry("");
             std::filesystem::remove(t.dtd_file());
         },
         no_dtd},
        {"directory closed to others", [](const TempRoot &t) { chmod(t.registry_dir().c_str(), 0700); },
         [](const TempRoot &t) { return t.registry_dir() + ": Unable to open directory or file (Permission denied)\n"; },
         true},
        {"file closed to others",
         [](const TempRoot &t) {
             t.write_registry("");
             chmod(t.registry_file().c_str(), 0600);
         },
         [](const TempRoot &t) { return t.registry_file() + ": Unable to open directory or file (Permission denied)\n"; },
         true},
    };
    for (const auto &c : cases) {
        if (c.as_nobody && (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0))
            continue;  // a denied permission needs root to become another user
        TempRoot t;
        c.prepare(t);
        const bool had_file = std::filesystem::exists(t.registry_file());
        const std::string before = read_file(t.registry_file());
        std::vector<std::string> argv{installed("bin/zorbel"), "-r", t.root(), "list"};
        if (c.as_nobody) {
            chmod(t.root().c_str(), 0755);
            argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid", "nobody", "--regid", "nogroup", "--clear-groups"});
        }
        const auto r = run(argv);
        EXPECT_EQ(r.status, 1) << c.name;
        EXPECT_TRUE(r.err.ends_with("zorbel: " + c.err_end(t))) << c.name << ": " << r.err;
        EXPECT_EQ(std::filesystem::exists(t.registry_file()), had_file) << c.name;
        EXPECT_EQ(read_file(t.registry_file()), before) << c.name;
    }

    const std::string file = root.registry_file();
    write_file(file, "not xml");
    EXPECT_EQ(cli({"add", "--help"}).status, 0);  // help needs no registry
    for (const std::vector<std::string> &cmd : {std::vector<std::string>{"export"}, {"urn"}, {"get", "urn:zo:x"},
                                                 add_args("A", "urn:product:db")})
        EXPECT_TRUE(cli(cmd).err.ends_with("zorbel.xml: Invalid XML (not well-formed, or without a document type "
                                           "declaration)\n"))
            << cmd[0];
    EXPECT_EQ(read_file(file), "not xml");
}

TEST_F(CliRegistry, InitMakesTheDirectoryTheDtdCopyAndTheRegistryOnce)
{
    TempRoot bare(bare_root);
    const std::string dir = bare.registry_dir();
    auto r = zorbel({"-r", bare.root(), "init"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto said = lines(r.out);
    ASSERT_EQ(said.size(), 3u) << r.out;
    EXPECT_EQ(said[0], "created directory " + dir);
    EXPECT_EQ(said[1], "copied " + installed("bin/../share/xml/dtd/zorbel.dtd") + " to " + bare.dtd_file());
    EXPECT_TRUE(said[2].starts_with("created registry " + bare.registry_file() + " (urn:zo:")) << said[2];
    struct stat st{};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(read_file(bare.dtd_file()), read_file(installed("share/xml/dtd/zorbel.dtd")));

    r = zorbel({"init", "--root", bare.root()});  // again: nothing changes
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "checked registry " + bare.registry_file() + said[2].substr(said[2].find(" (")) + "\n");

    // A DTD the new registry does not validate against: the registry is not left behind.
    TempRoot other(bare_root);
    write_file(other.root() + "/empty.dtd", "");
    r = zorbel({"-r", other.root(), "init", "--dtd", other.root() + "/empty.dtd"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.ends_with("zorbel: " + other.registry_file() + ": Invalid XML (does not match its DTD " +
                                other.dtd_file() + ")\n"))
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(other.registry_file()));
    EXPECT_EQ(zorbel({"init", "--dtd", "x"}).status, 2);  // the root / has its installed DTD
}

// Every file below `dir` with its content (and mode), so a test can check
// that a failed command changed nothing.
std::map<std::string, std::string> tree_of(const std::string &dir)
{
    std::map<std::string, std::string> tree;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir)) {
        struct stat st{};
        lstat(entry.path().c_str(), &st);
        const bool small_file = S_ISREG(st.st_mode) && st.st_size < (1 << 20);
        tree[entry.path().string()] = std::to_string(st.st_mode) + (small_file ? read_file(entry.path()) : "");
    }
    return tree;
}

// zorbel init --dtd FILE refuses a link (which could lead to a file only
// the operator may read), a file too large for any reader to load, one
// that is not a DTD and one the registry does not validate against, and
// then has changed nothing, on an existing registry or a bare root.
TEST_F(CliRegistry, InitRefusesADtdFileBeforeAnythingChanges)
{
    const std::string dtd_text = read_file(installed("share/xml/dtd/zorbel.dtd"));
    const std::string canary = "secret-canary-51c2";
    struct Case {
        std::string name;
        std::function<std::string(const std::string &dir)> source;  // makes the file below dir; its path
        std::function<std::string(const TempRoot &)> err_end;       // standard error ends with "zorbel: " and this
        bool bare = false;
    };
    const auto unreadable = [](const std::string &why) {
        return [why](const TempRoot &t) { return t.root() + "/dtd: Unable to read the DTD (" + why + ")\n"; };
    };
    const Case cases[] = {
        {"a link to a DTD only its owner may read",
         [&](const std::string &dir) {
             write_file(dir + "/secret", dtd_text + "<!-- " + canary + " -->\n");
             chmod((dir + "/secret").c_str(), 0600);
             std::filesystem::create_symlink(dir + "/secret", dir + "/dtd");
             return dir + "/dtd";
         },
         unreadable("a symbolic link")},
        {"a file of 300 MB",
         [](const std::string &dir) {
             write_file(dir + "/dtd", "");
             std::filesystem::resize_file(dir + "/dtd", 300u << 20);
             return dir + "/dtd";
         },
         unreadable("larger than 1 MiB"), true},
        {"not a DTD",
         [](const std::string &dir) {
             write_file(dir + "/dtd", "<registry/>\n");
             return dir + "/dtd";
         },
         unreadable("not a DTD")},
        {"a DTD the registry does not match",
         [](const std::string &dir) {
             write_file(dir + "/dtd", "<!ELEMENT registry EMPTY>\n");
             return dir + "/dtd";
         },
         [](const TempRoot &t) {
             return t.registry_file() + ": Invalid XML (does not match its DTD " + t.dtd_file() + ")\n";
         }},
    };
    for (const auto &c : cases) {
        for (const bool bare : {false, c.bare}) {
            const TempRoot t = bare ? TempRoot(bare_root) : TempRoot();
            if (!bare)
                t.write_registry(record_xml("urn:zo:kept"));
            const std::string source = c.source(t.root());
            const auto before = tree_of(t.root());
            const auto r = zorbel({"-r", t.root(), "init", "--dtd", source});
            EXPECT_EQ(r.status, 1) << c.name;
            EXPECT_EQ(r.out, "") << c.name;
            EXPECT_TRUE(r.err.ends_with("zorbel: " + c.err_end(t))) << c.name << ": " << r.err;
            EXPECT_EQ(tree_of(t.root()), before) << c.name;
        }
    }

    // A DTD that passes is installed with mode 0644 whatever the source's,
    // and nothing else is left beside it.
    const TempRoot t;
    t.write_registry(record_xml("urn:zo:kept"));
    write_file(t.root() + "/own.dtd", dtd_text + "<!-- own -->\n");
    chmod((t.root() + "/own.dtd").c_str(), 0600);
    const auto r = zorbel({"-r", t.root(), "init", "--dtd", t.root() + "/own.dtd"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(t.dtd_file()), dtd_text + "<!-- own -->\n");
    struct stat st{};
    ASSERT_EQ(stat(t.dtd_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(tree_of(t.registry_dir()).size(), 2u);
}

// Before it creates a registry, zorbel checks that the DTD the registry
// will name loads, resolved as readers resolve it (the system catalog
// first), and otherwise creates nothing and names the file it looked for.
TEST_F(CliRegistry, NoRegistryIsCreatedWhoseDtdCannotBeLoaded)
{
    const TempRoot t;
    const std::string catalog = t.root() + "/catalog.xml", mapped = t.root() + "/elsewhere/zorbel.dtd";
    write_file(catalog, "<?xml version=\"1.0\"?>\n<catalog xmlns=\"urn:oasis:names:tc:entity:xmlns:xml:catalog\">"
                        "<system systemId=\"" + t.dtd_file() + "\" uri=\"file://" + mapped + "\"/></catalog>\n");
    for (const std::string command : {"init", "list"}) {
        const auto before = tree_of(t.root());
        const auto r = run({"/usr/bin/env", "XML_CATALOG_FILES=" + catalog, installed("bin/zorbel"), "-r", t.root(), command});
        EXPECT_EQ(r.status, 1) << command;
        EXPECT_TRUE(r.err.ends_with(": Invalid XML (its DTD " + mapped + " cannot be loaded: No such file or directory; "
                                    "copy zorbel.dtd there, or run 'zorbel init' (with --dtd FILE for a root other "
                                    "than /))\n"))
            << command << ": " << r.err;
        EXPECT_EQ(tree_of(t.root()), before) << command;
    }
}

TEST_F(CliRegistry, UsageErrorsExitTwoWithTheUsageText)
{
    struct Case {
        std::vector<std::string> args;
        std::string first_line;
    };
    const Case cases[] = {
        {{}, "zorbel: missing command"},
        {{"frobnicate"}, "zorbel: unknown command 'frobnicate'"},
        {{"--bogus", "list"}, "zorbel: unknown option '--bogus'"},
        {{"-r"}, "zorbel: option '-r, --root' needs a value"},
        {{"list", "extra"}, "zorbel list: unexpected operand 'extra'"},
        {{"get"}, "zorbel get: missing operand"},
        {{"delete", "a", "b"}, "zorbel delete: unexpected operand 'b'"},
        {{"update", "urn:zo:x"}, "zorbel update: give --parent-urn or --defined-inst-id (or both), not empty"},
        {{"add", "--product-name", "x"}, "zorbel add: missing --product-version"},
        {{"add", "--vendor"}, "zorbel add: option '--vendor' needs a value"},
        {{"list", "-x"}, "zorbel list: unknown option '-x'"},
        {{"list", "--format", "xml"}, "zorbel list: unknown format 'xml' (table, json, jsonl or csv)"},
        {{"get", "urn:zo:x", "--format", ""}, "zorbel get: unknown format '' (table, json, jsonl or csv)"},
        {{"export", "--format", "json"}, "zorbel export: unknown format 'json' (xml or prometheus)"},
    };
    for (const auto &c : cases) {
        const auto r = zorbel(c.args);
        EXPECT_EQ(r.status, 2) << c.first_line;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.starts_with(c.first_line + "\nUsage: zorbel")) << r.err;
    }
}

// --help wins over every other error, and every command takes the global
// options, before or after its name.
TEST_F(CliRegistry, HelpForEveryCommandGoesToStandardOutput)
{
    for (const std::string cmd :
         {"init", "add", "update", "delete", "get", "list", "export", "urn", "inventory", "discover", "query"}) {
        for (const std::vector<std::string> &args :
             {std::vector<std::string>{cmd, "--help"}, {"-r", root.root(), cmd, "--bogus", "--help"},
              {cmd, "-r", root.root(), "--port", "0", "-h"}}) {
            const auto r = zorbel(args);
            EXPECT_EQ(r.status, 0) << args[0] << " " << args[1];
            EXPECT_TRUE(r.out.starts_with("Usage: zorbel")) << cmd;
            EXPECT_NE(r.out.find(" " + cmd), std::string::npos) << cmd;
            EXPECT_EQ(r.err, "");
        }
        EXPECT_EQ(zorbel({cmd, "--version"}).out, "zorbel 1.1.4\n") << cmd;
    }
    const auto top = zorbel({"--help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("discover"), std::string::npos);
    EXPECT_EQ(zorbel({"frobnicate", "--help"}).out, top.out);
    EXPECT_EQ(zorbel({"--version"}).out, "zorbel 1.1.4\n");
}

}  // namespace
}  // namespace zorbel::test
