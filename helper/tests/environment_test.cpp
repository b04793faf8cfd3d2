// The registry environment: paths, first-use creation, validation of an
// existing registry, the process-wide URN, and the failures of initialising.
#include "environment.h"
#include "registry_write.h"
#include "gate.h"
#include "isolation.h"
#include "loopback.h"
#include "process.h"
#include "sample_records.h"
#include "temp_root.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <libxml/catalog.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using zorbel::test::Gate;
using zorbel::test::Child;
using zorbel::test::read_file;
using zorbel::test::TempRoot;
using zorbel::test::write_file;

const std::regex urn_form("urn:zo:[0-9a-f]{8}-[0-9a-f]{4}-1[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");

// A zeroed environment, as every caller hands it over.
struct Env {
    zo_env_t env{};
    int init(const std::string &root) { return zo_initialize(root.c_str(), &env); }
};

std::set<std::string> names_in(const std::string &dir)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

unsigned mode_of(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::string new_registry_text(const std::string &dtd, const std::string &urn)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE registry SYSTEM \"" + dtd + "\">\n"
           "<registry urn=\"" + urn + "\" version=\"1.1.4\"/>\n";
}

// Restores the umask on scope exit.
class Umask {
public:
    explicit Umask(mode_t mask) : old_(umask(mask)) {}
    ~Umask() { umask(old_); }

private:
    mode_t old_;
};

// The new registry is owner-only whatever the umask.
TEST(Initialize, CreatesTheRegistryBelowTheRoot)
{
    for (const mode_t mask : {0022u, 0277u}) {
        SCOPED_TRACE(mask);
        const TempRoot r;
        const Umask set(mask);
        Env e;
        ASSERT_EQ(e.init(r.root()), ZO_ERR_NO_ERROR);
        EXPECT_EQ(zo_is_initialized(&e.env), 1);
        EXPECT_EQ(e.env.initialized_flag, ZO_INITIALIZED);
        EXPECT_EQ(e.env.root_dir, r.root());
        EXPECT_EQ(e.env.registry_path, r.registry_dir());
        EXPECT_EQ(e.env.registry, r.registry_file());
        EXPECT_TRUE(std::regex_match(e.env.registry_urn, urn_form)) << e.env.registry_urn;
        EXPECT_STREQ(e.env.registry_version, "1.1.4");
        EXPECT_STREQ(zo_get_registry_urn(), e.env.registry_urn);
        // Declaration, document type naming this root's DTD, and an empty root.
        EXPECT_EQ(read_file(r.registry_file()), new_registry_text(r.dtd_file(), e.env.registry_urn));
        EXPECT_EQ(mode_of(r.registry_file()), 0600u);
        EXPECT_EQ(names_in(r.registry_dir()), (std::set<std::string>{"zorbel.dtd", "zorbel.xml"}));
    }
}

TEST(Initialize, SecondEnvironmentValidatesAndReadsTheSameUrn)
{
    const TempRoot r;
    Env first, second;
    ASSERT_EQ(first.init(r.root()), ZO_ERR_NO_ERROR);
    const std::string created = read_file(r.registry_file());
    ASSERT_EQ(second.init(r.root()), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(second.env.registry_urn, first.env.registry_urn);
    EXPECT_STREQ(second.env.registry_version, "1.1.4");
    EXPECT_STREQ(zo_get_registry_urn(), first.env.registry_urn);
    EXPECT_EQ(read_file(r.registry_file()), created);
    EXPECT_EQ(zorbel::is_reg_valid(&second.env), 1);
}

TEST(Initialize, RootIsTakenAsText)
{
    const TempRoot r;
    Env e;
    ASSERT_EQ(e.init(r.root() + "/"), ZO_ERR_NO_ERROR);
    EXPECT_EQ(e.env.registry_path, r.root() + "//var/sadm/zorbel/registry");
    EXPECT_EQ(e.env.registry, r.root() + "//var/sadm/zorbel/registry/zorbel.xml");
    EXPECT_NE(read_file(r.registry_file()).find("SYSTEM \"" + r.root() + "//var/sadm/zorbel/registry/zorbel.dtd\""),
              std::string::npos);
}

// A relative root names its DTD relative to the working directory, like the
// registry path; the registry it creates must validate on the next use, and
// a hand-written registry naming its DTD beside itself must too.
TEST(Initialize, RelativeRootStaysReadable)
{
    const TempRoot r;
    const fs::path old_cwd = fs::current_path();
    fs::current_path(fs::path(r.root()).parent_path());
    const std::string rel = fs::path(r.root()).filename().string();
    Env first, second;
    const int created = first.init(rel);
    const int reread = second.init(rel);
    const std::string text = read_file(r.registry_file());
    write_file(r.registry_file(), new_registry_text("zorbel.dtd", "urn:zo:beside"));
    Env third;
    const int beside = third.init(rel);
    fs::current_path(old_cwd);

    EXPECT_EQ(created, ZO_ERR_NO_ERROR);
    EXPECT_NE(text.find("SYSTEM \"" + rel + "/var/sadm/zorbel/registry/zorbel.dtd\""), std::string::npos);
    EXPECT_EQ(reread, ZO_ERR_NO_ERROR);
    EXPECT_STREQ(second.env.registry_urn, first.env.registry_urn);
    EXPECT_EQ(beside, ZO_ERR_NO_ERROR);
    EXPECT_STREQ(third.env.registry_urn, "urn:zo:beside");
}

TEST(Initialize, ExistingRegistryIsValidatedNeverReplaced)
{
    struct Case {
        const char *what;
        std::string content;
    };
    const TempRoot r;
    const std::string dtd = "<!DOCTYPE registry SYSTEM \"" + r.dtd_file() + "\">\n";
    const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const std::vector<Case> cases = {
        {"empty file", ""},
        {"not XML", "registry"},
        {"unterminated", decl + dtd + "<registry urn=\"u\" version=\"1\">"},
        {"no document type", decl + "<registry urn=\"u\" version=\"1\"/>\n"},
        {"no urn attribute", decl + dtd + "<registry version=\"1\"/>\n"},
        {"no version attribute", decl + dtd + "<registry urn=\"u\"/>\n"},
        {"other root", decl + "<!DOCTYPE other SYSTEM \"" + r.dtd_file() + "\">\n<other/>\n"},
        {"undeclared record field", decl + dtd + "<registry urn=\"u\" version=\"1\"><zorbel><size>1</size>"
                                                 "</zorbel></registry>\n"},
        {"text directly in the root", decl + dtd + "<registry urn=\"u\" version=\"1\">text</registry>\n"},
        {"DTD that does not exist", decl + "<!DOCTYPE registry SYSTEM \"" + r.root() + "/none.dtd\">\n"
                                           "<registry urn=\"u\" version=\"1\"/>\n"},
    };
    for (const auto &c : cases) {
        write_file(r.registry_file(), c.content);
        Env e;
        EXPECT_EQ(e.init(r.root()), ZO_ERR_XML_INVALID_REG) << c.what;
        EXPECT_EQ(zo_is_initialized(&e.env), 0) << c.what;
        EXPECT_STREQ(zo_get_registry_urn(), "") << c.what;
        EXPECT_EQ(read_file(r.registry_file()), c.content) << c.what;
    }
}

TEST(Initialize, AcceptsWhatOtherWritersLeave)
{
    const TempRoot r;
    // Whitespace, comments, another version, and records with their
    // fields in another order, missing or repeated.
    r.write_registry("\n  <!-- kept -->\n  " + zorbel::test::record_xml("urn:zo:a") +
                         "\n  <zorbel><source>s</source><instance_urn>urn:zo:b</instance_urn>"
                         "<source>t</source></zorbel>\n",
                     "urn:zo:other", "2.0");
    Env e;
    ASSERT_EQ(e.init(r.root()), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(e.env.registry_urn, "urn:zo:other");
    EXPECT_STREQ(e.env.registry_version, "2.0");
    EXPECT_STREQ(zo_get_registry_urn(), "urn:zo:other");
}

TEST(Initialize, AttributesAreCutToTheirFields)
{
    const TempRoot r;
    r.write_registry("", "urn:" + std::string(300, 'u'), std::string(100, 'v'));
    Env e;
    ASSERT_EQ(e.init(r.root()), ZO_ERR_NO_ERROR);
    EXPECT_EQ(std::string(e.env.registry_urn), "urn:" + std::string(251, 'u'));
    EXPECT_EQ(std::string(e.env.registry_version), std::string(63, 'v'));
}

// A new registry is written as built, without validation: with its DTD
// missing first use creates it, and the next use finds it invalid.  A
// write that fails (a file size limit standing in for a full file system)
// gives ZO_ERR_XML_SAVE_REG and leaves no file.
TEST(Initialize, NewRegistryIsWrittenWithoutValidation)
{
    const TempRoot r(TempRoot::Options{.make_registry_dir = true, .copy_dtd = false});
    Env first, second;
    ASSERT_EQ(first.init(r.root()), ZO_ERR_NO_ERROR);
    EXPECT_EQ(read_file(r.registry_file()), new_registry_text(r.dtd_file(), first.env.registry_urn));
    EXPECT_EQ(second.init(r.root()), ZO_ERR_XML_INVALID_REG);

    const TempRoot full(TempRoot::Options{.make_registry_dir = true, .copy_dtd = false});
    const std::string root = full.root();
    Child child = Child::fork_call([&root] {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit {16, 16};
        zo_env_t env{};
        return setrlimit(RLIMIT_FSIZE, &limit) == 0 && zo_initialize(root.c_str(), &env) == ZO_ERR_XML_SAVE_REG ? 0 : 1;
    });
    EXPECT_EQ(child.wait_exit_code(), 0);
    EXPECT_TRUE(names_in(full.registry_dir()).empty());
}

TEST(Initialize, NonRegularRegistryIsInvalid)
{
    const TempRoot r;
    fs::create_directory(r.registry_file());
    Env e;
    EXPECT_EQ(e.init(r.root()), ZO_ERR_XML_INVALID_REG);
    fs::remove(r.registry_file());

    // A FIFO must neither block the caller nor be taken for a registry.
    ASSERT_EQ(mkfifo(r.registry_file().c_str(), 0600), 0);
    const std::string root = r.root();
    Child child = Child::fork_call([&root] {
        zo_env_t env{};
        return zo_initialize(root.c_str(), &env) == ZO_ERR_XML_INVALID_REG ? 0 : 1;
    });
    EXPECT_EQ(child.wait_exit_code(std::chrono::seconds(5)), 0);
}

TEST(Initialize, AlreadyInitialisedChangesNothingUntilClosed)
{
    const TempRoot a, b;
    Env e;
    ASSERT_EQ(e.init(a.root()), ZO_ERR_NO_ERROR);
    const std::string urn = zo_get_registry_urn();
    const zo_env_t before = e.env;
    EXPECT_EQ(e.init(b.root()), ZO_ERR_ALREADY_INIT);
    EXPECT_EQ(memcmp(&before, &e.env, sizeof before), 0);
    EXPECT_EQ(zo_get_registry_urn(), urn);
    EXPECT_FALSE(fs::exists(b.registry_file()));

    zo_close(&e.env);
    EXPECT_EQ(zo_is_initialized(&e.env), 0);
    EXPECT_EQ(zo_get_registry_urn(), urn);   // closing keeps the process-wide URN
    EXPECT_EQ(e.env.registry_urn, urn);      // and the environment's fields
    zo_close(&e.env);                        // closing twice does nothing
    ASSERT_EQ(e.init(b.root()), ZO_ERR_NO_ERROR);
    EXPECT_STREQ(zo_get_registry_urn(), e.env.registry_urn);
    EXPECT_NE(zo_get_registry_urn(), urn);
}

TEST(Initialize, OnlyTheValueOneCountsAsInitialised)
{
    const TempRoot r;
    Env e;
    e.env.initialized_flag = 2;
    EXPECT_EQ(zo_is_initialized(&e.env), 0);
    EXPECT_EQ(e.init(r.root()), ZO_ERR_NO_ERROR);
    EXPECT_EQ(zo_is_initialized(nullptr), 0);
    zo_close(nullptr);
    EXPECT_NE(zo_initialize(r.root().c_str(), nullptr), ZO_ERR_NO_ERROR);
}

// A root whose registry directory cannot be opened, or whose paths do not
// fit: the environment stays uninitialised, nothing is created, the
// process-wide URN is emptied, and other environments keep their state.
TEST(Initialize, FailuresCreateNothingAndEmptyTheProcessWideUrn)
{
    const TempRoot r;
    const TempRoot bare(zorbel::test::bare_root);
    fs::create_directories(bare.root() + "/var/sadm/zorbel");
    const std::string sub = "/var/sadm/zorbel/registry";
    // The registry directory path may have at most 4095 characters.
    const std::string longest_root(4095 - sub.size(), 'a');
    const struct {
        std::string root;
        int expected;
    } cases[] = {
        {bare.root(), ZO_ERR_NO_DIR},  // no registry directory
        {r.root() + "/no/such/root", ZO_ERR_NO_DIR},
        {longest_root, ZO_ERR_NO_DIR},
        {longest_root + "a", ZO_ERR_MAX_LEN_EXCEEDED},
        {std::string(4095, 'a'), ZO_ERR_MAX_LEN_EXCEEDED},
        {std::string(4096, 'a'), ZO_ERR_MAX_LEN_EXCEEDED},
        {std::string(10000, 'a'), ZO_ERR_MAX_LEN_EXCEEDED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.root.substr(0, 80));
        Env good, bad;
        ASSERT_EQ(good.init(r.root()), ZO_ERR_NO_ERROR);
        ASSERT_STRNE(zo_get_registry_urn(), "");
        EXPECT_EQ(bad.init(c.root), c.expected);
        EXPECT_EQ(zo_is_initialized(&bad.env), 0);
        EXPECT_STREQ(zo_get_registry_urn(), "");
        EXPECT_EQ(zo_is_initialized(&good.env), 1);
        zo_close(&good.env);
    }
    EXPECT_TRUE(names_in(bare.root() + "/var/sadm/zorbel").empty());
}

// The library creates a new registry only where none exists: a second
// creation attempt leaves the first registry as it is.
TEST(InstallRegistry, CreateNewNeverReplaces)
{
    const TempRoot r;
    Env e;
    ASSERT_EQ(e.init(r.root()), ZO_ERR_NO_ERROR);
    const std::string before = read_file(r.registry_file());
    EXPECT_EQ(zorbel::install_registry(&e.env, "<other/>\n", zorbel::Install::create_new), ZO_ERR_DUP_REC);
    EXPECT_EQ(read_file(r.registry_file()), before);
    EXPECT_EQ(names_in(r.registry_dir()), (std::set<std::string>{"zorbel.dtd", "zorbel.xml"}));
}

// Two processes initialising one empty registry directory at the same
// moment end with one registry and the same URN.
TEST(Initialize, ConcurrentFirstUseAgreesOnOneRegistry)
{
    for (int round = 0; round < 30; ++round) {
        const TempRoot r;
        const std::string root = r.root();
        Gate go;
        int out[2][2];
        std::vector<Child> children;
        for (auto &o : out) {
            ASSERT_EQ(pipe(o), 0);
            const int result_fd = o[1];
            children.push_back(Child::fork_call([&root, &go, result_fd] {
                go.wait();
                zo_env_t env{};
                if (zo_initialize(root.c_str(), &env) != ZO_ERR_NO_ERROR)
                    return 1;
                const char *urn = zo_get_registry_urn();
                return write(result_fd, urn, strlen(urn)) > 0 ? 0 : 2;
            }));
            close(o[1]);
        }
        go.open(2);
        std::string urns[2];
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(children[i].wait_exit_code(), 0) << "round " << round;
            char buf[300];
            const ssize_t n = read(out[i][0], buf, sizeof buf);
            urns[i].assign(buf, n > 0 ? static_cast<size_t>(n) : 0);
            close(out[i][0]);
        }
        ASSERT_TRUE(std::regex_match(urns[0], urn_form)) << "round " << round;
        ASSERT_EQ(urns[0], urns[1]) << "round " << round;
        EXPECT_EQ(read_file(r.registry_file()), new_registry_text(r.dtd_file(), urns[0]));
        EXPECT_EQ(names_in(r.registry_dir()), (std::set<std::string>{"zorbel.dtd", "zorbel.xml"}));
    }
}

// A registry set up by root, used by an unprivileged process.
class AsOtherUser : public testing::Test {
protected:
    void SetUp() override
    {
        if (!zorbel::test::have_root())
            GTEST_SKIP() << "needs root to switch to an unprivileged user";
        fs::permissions(r.root(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    }

    // zo_initialize on the root as user nobody; its result, or 1000 + a
    // failed set-up step.
    int init_as_nobody()
    {
        const std::string root = r.root();
        Child child = Child::fork_call([&root] {
            if (!zorbel::test::become_user(zorbel::test::nobody_uid, zorbel::test::nobody_gid))
                return 250;
            zo_env_t env{};
            const int rc = zo_initialize(root.c_str(), &env);
            if (rc == ZO_ERR_NO_ERROR && strcmp(zo_get_registry_urn(), "urn:zo:ro") != 0)
                return 251;
            return rc == ZO_ERR_NO_ERROR ? 0 : -rc - 32000;  // -32026 exits with 26
        });
        const int status = child.wait_exit_code();
        return status >= 250 || status < 0 ? 1000 + status : (status == 0 ? 0 : -(status + 32000));
    }

    TempRoot r;
};

// Readable and valid: used read-only; readable and invalid: invalid;
// unreadable: reported, never replaced; no room for a new file: no file.
TEST_F(AsOtherUser, RegistryIsUsedAsFarAsTheUserMayButNeverReplaced)
{
    const std::string valid = "valid";
    const struct {
        const char *what;
        std::optional<std::string> content;  // the registry file, or none
        mode_t mode;
        int expected;
    } cases[] = {
        {"readable valid registry", valid, 0644, ZO_ERR_NO_ERROR},
        {"readable invalid registry", "", 0644, ZO_ERR_XML_INVALID_REG},
        {"unreadable registry", valid, 0600, ZO_ERR_NO_DIR},
        {"no registry, directory closed to the user", std::nullopt, 0, ZO_ERR_XML_SAVE_REG},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(r.registry_file());
        if (c.content == valid)
            r.write_registry("", "urn:zo:ro");
        else if (c.content)
            write_file(r.registry_file(), *c.content);
        if (c.content) {
            ASSERT_EQ(chmod(r.registry_file().c_str(), c.mode), 0);
        }
        const std::string before = c.content ? read_file(r.registry_file()) : "";
        EXPECT_EQ(init_as_nobody(), c.expected);
        if (c.content) {
            EXPECT_EQ(read_file(r.registry_file()), before);
            EXPECT_EQ(mode_of(r.registry_file()), unsigned(c.mode));
        }
        EXPECT_EQ(names_in(r.registry_dir()).size(), c.content ? 2u : 1u);
    }
}

// No root, an empty root and "/" all mean the standard place.  Run in a
// private mount namespace with empty file systems over /var and /opt, so the
// host's own directories are never seen or touched.
TEST(Initialize, DefaultRootIsTheStandardPlace)
{
    if (const std::string why = zorbel::test::private_mounts_unavailable(); !why.empty())
        GTEST_SKIP() << why;
    const std::string dtd_text = read_file(ZORBEL_TEST_DTD);
    Child child = Child::fork_call([&dtd_text] {
        using namespace zorbel::test;
        if (!enter_private_mounts() || !mount_tmpfs("/var") || !mount_tmpfs("/opt"))
            return 2;
        const std::string dir = "/var/sadm/zorbel/registry", std_dtd = "/opt/quesk/zorbel/share/xml/dtd";
        fs::create_directories(dir);
        fs::create_directories(std_dtd);
        write_file(std_dtd + "/zorbel.dtd", dtd_text);
        std::string urn;
        const char *roots[] = {nullptr, "", "/"};
        for (const char *root : roots) {
            zo_env_t env{};
            if (zo_initialize(root, &env) != ZO_ERR_NO_ERROR)
                return 3;
            if (strcmp(env.root_dir, "/") != 0 || env.registry_path != dir || env.registry != dir + "/zorbel.xml")
                return 4;
            if (urn.empty())
                urn = env.registry_urn;
            else if (urn != env.registry_urn)
                return 5;
        }
        if (read_file(dir + "/zorbel.xml") != new_registry_text(std_dtd + "/zorbel.dtd", urn))
            return 6;
        return 0;
    });
    EXPECT_EQ(child.wait_exit_code(), 0);
}

// The DTD a registry names is read only from a local regular file (after
// the system catalog has mapped its identifier): never from the network,
// never from a FIFO, and the XML library's diagnostics quote no content of
// what it was pointed at.
TEST(Initialize, DtdIsLoadedOnlyFromALocalRegularFile)
{
    const TempRoot r;
    const std::string canary = "secret-canary-7d41", secret = r.root() + "/secret";
    write_file(secret, "root password: " + canary + "\n<!ELEMENT " + canary + " EMPTY>\n");
    ASSERT_EQ(mkfifo((r.root() + "/fifo").c_str(), 0600), 0);
    fs::create_directories(r.root() + "/elsewhere");
    fs::copy_file(r.dtd_file(), r.root() + "/elsewhere/zorbel.dtd");
    const std::string catalog = r.root() + "/catalog";
    write_file(catalog, "<?xml version=\"1.0\"?>\n<catalog xmlns=\"urn:oasis:names:tc:entity:xmlns:xml:catalog\">"
                        "<system systemId=\"/nowhere/zorbel.dtd\" uri=\"file://" + r.root() +
                        "/elsewhere/zorbel.dtd\"/></catalog>\n");
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address = zorbel::test::loopback_address(0);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));

    const struct {
        std::string system_id;
        int expected;
    } cases[] = {
        {secret, ZO_ERR_XML_INVALID_REG},
        {r.root() + "/fifo", ZO_ERR_XML_INVALID_REG},
        {"http://127.0.0.1:" + port + "/zorbel.dtd", ZO_ERR_XML_INVALID_REG},
        {"ftp://127.0.0.1:" + port + "/zorbel.dtd", ZO_ERR_XML_INVALID_REG},
        {r.root(), ZO_ERR_XML_INVALID_REG},
        {r.root() + "/elsewhere/zorbel.dtd", ZO_ERR_NO_ERROR},
        {"file://" + r.root() + "/elsewhere/zorbel.dtd", ZO_ERR_NO_ERROR},
        {"zorbel.dtd", ZO_ERR_NO_ERROR},  // beside the registry
        {"/nowhere/zorbel.dtd", ZO_ERR_NO_ERROR},  // through the catalog
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.system_id);
        write_file(r.registry_file(), "<?xml version=\"1.0\"?>\n<!DOCTYPE registry SYSTEM \"" + c.system_id +
                                          "\">\n<registry urn=\"urn:zo:d\" version=\"1\"/>\n");
        const std::string errors = r.root() + "/stderr";
        Child child = Child::fork_call([&] {
            if (!freopen(errors.c_str(), "w", stderr))
                return 100;
            xmlCatalogCleanup();
            setenv("XML_CATALOG_FILES", catalog.c_str(), 1);
            zo_env_t env{};
            const int rc = zo_initialize(r.root().c_str(), &env);
            return rc == 0 ? 0 : -rc - 32000;
        });
        EXPECT_EQ(child.wait_exit_code(std::chrono::seconds(10)), c.expected == 0 ? 0 : -c.expected - 32000);
        EXPECT_EQ(read_file(errors).find(canary), std::string::npos) << read_file(errors);
        EXPECT_LT(accept(listener, nullptr, nullptr), 0) << "the registry made its reader connect";
    }
    close(listener);
}

}  // namespace
