// Helpers for the registry query and writer tests: checks of the file on disk, and forked children (other processes, other
// users) with bounded waits.
#pragma once

#include "isolation.h"
#include "process.h"
#include "sample_records.h"
#include "temp_root.h"
#include "zorbel/support/xml_ptr.h"
#include "zorbel.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace zorbel::test {

inline int my_uid()
{
    return static_cast<int>(getuid());
}

// Text as the writers save it after reading it: an element read without
// content is written back in its short form.
std::string as_saved(std::string text)
{
    for (const std::string name : {"product_parent_urn", "product_defined_inst_id"}) {
        const std::string open_close = "<" + name + "></" + name + ">";
        for (size_t at; (at = text.find(open_close)) != std::string::npos;)
            text.replace(at, open_close.size(), "<" + name + "/>");
    }
    return text;
}

// The registry file parsed and validated against its DTD; null when it
// does not parse or is not valid.
inline xml::DocPtr valid_registry_file(const std::string &path)
{
    xml::DocPtr doc(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc)
        return nullptr;
    xml::ValidCtxtPtr ctxt(xmlNewValidCtxt());
    ctxt->error = nullptr;
    ctxt->warning = nullptr;
    if (xmlValidateDocument(ctxt.get(), doc.get()) != 1)
        return nullptr;
    return doc;
}

// The instance URNs of the records, in document order.
inline std::vector<std::string> instance_urns_of(xmlDoc *doc)
{
    std::vector<std::string> urns;
    for (xmlNode *r = xmlDocGetRootElement(doc)->children; r; r = r->next) {
        if (!xml::is_element(r, "zorbel"))
            continue;
        for (xmlNode *f = r->children; f; f = f->next) {
            if (xml::is_element(f, "instance_urn"))
                urns.emplace_back(xml::view(xml::node_text(doc, f).get()));
        }
    }
    return urns;
}

inline std::chrono::steady_clock::time_point after(std::chrono::seconds timeout)
{
    return std::chrono::steady_clock::now() + timeout;
}

// Runs `body` in a forked child and returns how the child ended.
inline int in_child(const std::function<int()> &body, std::chrono::seconds timeout = std::chrono::seconds(60))
{
    return zorbel::test::Child::fork_call(body).wait_status(timeout);
}

// Runs `body` in a child process as an unprivileged user when the tests
// run as root, else as the current user.
inline int as_unprivileged(const std::function<int()> &body)
{
    return in_child([&] {
        if (geteuid() == 0 && !become_user(nobody_uid, nobody_gid))
            return 98;
        return body();
    });
}

// Opens the root's directories and registry to every user, so that a child
// that switched users can work on it.
inline void open_to_all_users(const TempRoot &root)
{
    namespace fs = std::filesystem;
    for (fs::path p = root.registry_dir(); p.string().size() >= root.root().size(); p = p.parent_path())
        fs::permissions(p, fs::perms::all);
    if (fs::exists(root.registry_file()))
        fs::permissions(root.registry_file(), fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::group_write |
                                                  fs::perms::others_read | fs::perms::others_write);
}

// A root with a registry holding `records_xml`, and an environment
// initialised on it.
struct Registry {
    TempRoot root;
    zo_env_t env{};

    explicit Registry(const std::string &records_xml = "")
    {
        root.write_registry(records_xml);
        EXPECT_EQ(zo_initialize(root.root().c_str(), &env), ZO_ERR_NO_ERROR);
    }
    std::string content() const { return read_file(root.registry_file()); }
};

}  // namespace zorbel::test
