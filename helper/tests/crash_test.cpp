// A writer killed at any moment leaves a registry that parses, validates
// and holds exactly the adds that completed before the kill.
#include "registry_test_util.h"

#include <random>

using namespace zorbel::test;

namespace {

TEST(CrashSafety, KilledWriterLeavesAPrefixOfItsAdds)
{
    Registry reg;
    const unsigned seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay_us(0, 15000);
    size_t stored = 0;
    for (int kill_no = 0; kill_no < 30; ++kill_no) {
        auto writer = zorbel::test::Child::fork_call([&, first = stored] {
            for (size_t n = first; n < first + 100000; ++n) {
                zo_t s = full_record("urn:crash:" + std::to_string(n));
                if (zo_add(&s, &reg.env) != ZO_ERR_NO_ERROR)
                    return 1;
            }
            return 0;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us(random)));
        kill(writer.pid(), SIGKILL);
        ASSERT_EQ(writer.wait_status(std::chrono::seconds(10)), 128 + SIGKILL) << "seed " << seed;

        auto doc = valid_registry_file(reg.root.registry_file());
        ASSERT_TRUE(doc) << "kill " << kill_no << ", seed " << seed;
        const std::vector<std::string> urns = instance_urns_of(doc.get());
        ASSERT_GE(urns.size(), stored);
        for (size_t n = 0; n < urns.size(); ++n)
            ASSERT_EQ(urns[n], "urn:crash:" + std::to_string(n)) << "kill " << kill_no << ", seed " << seed;
        stored = urns.size();
    }
    EXPECT_GT(stored, 0u);
}

}  // namespace
