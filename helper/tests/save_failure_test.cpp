// A save that cannot complete reports ZO_ERR_XML_SAVE_REG and leaves the
// previous registry as it was, byte for byte.
#include "registry_test_util.h"

#include <sys/resource.h>
#include <sys/stat.h>

using namespace zorbel::test;

namespace {

// In a child: files may not grow past `bytes`; writes beyond fail with EFBIG.
bool limit_file_size(size_t bytes)
{
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit {bytes, bytes};
    return setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

std::vector<std::string> directory_entries(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SaveFailure, FailedReplacementKeepsTheRegistry)
{
    Registry reg(as_saved(many_records(20, "urn:r:", "urn:p", my_uid())));
    const std::string before = reg.content();
    EXPECT_EQ(in_child([&] {
                  if (!limit_file_size(before.size()))
                      return 90;
                  zo_t s = full_record("urn:too-big");
                  if (zo_add(&s, &reg.env) != ZO_ERR_XML_SAVE_REG)
                      return 1;
                  return zo_delete("urn:r:0", &reg.env) == ZO_ERR_NO_ERROR ? 0 : 2;  // a smaller file fits
              }),
              0);
    const std::string after_delete = reg.content();
    EXPECT_EQ(after_delete.find("urn:too-big"), std::string::npos);
    EXPECT_EQ(after_delete.find("urn:r:0<"), std::string::npos);
    EXPECT_TRUE(valid_registry_file(reg.root.registry_file()));
    // No temporary file is left behind.
    EXPECT_EQ(directory_entries(reg.root.registry_dir()), (std::vector<std::string>{"zorbel.dtd", "zorbel.xml"}));
}

TEST(SaveFailure, FailedRewriteInPlacePutsThePreviousBytesBack)
{
    Registry reg(as_saved(many_records(20, "urn:r:", "urn:p", static_cast<int>(geteuid() == 0 ? nobody_uid : getuid()))));
    open_to_all_users(reg.root);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(reg.root.registry_file().c_str(), nobody_uid, nobody_gid), 0);
    }
    chmod(reg.root.registry_dir().c_str(), 0555);  // no room for a temporary file
    const std::string before = reg.content();
    struct stat old_file {};
    stat(reg.root.registry_file().c_str(), &old_file);
    EXPECT_EQ(as_unprivileged([&] {
                  // The first bytes of the new content overwrite the old ones before the limit stops the write.
                  if (!limit_file_size(before.size()))
                      return 90;
                  zo_t s = full_record("urn:too-big");
                  return zo_add(&s, &reg.env) == ZO_ERR_XML_SAVE_REG ? 0 : 1;
              }),
              0);
    chmod(reg.root.registry_dir().c_str(), 0755);
    EXPECT_EQ(reg.content(), before);
    struct stat now {};
    stat(reg.root.registry_file().c_str(), &now);
    EXPECT_EQ(now.st_ino, old_file.st_ino);
}

}  // namespace
