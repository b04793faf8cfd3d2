#include "browser.h"

#include "temp_root.h"

#include <unistd.h>

namespace zorbel::test {

std::optional<RunResult> headless_chromium(const std::vector<std::string> &args)
{
    const std::string chromium = "/usr/bin/chromium";
    if (access(chromium.c_str(), X_OK) != 0)
        return std::nullopt;
    const TempRoot profile(bare_root);
    std::vector<std::string> argv{chromium,
                                  "--headless",
                                  "--no-sandbox",
                                  "--disable-gpu",
                                  "--disable-quic",
                                  "--no-first-run",
                                  "--disable-background-networking",
                                  "--disable-component-update",
                                  "--disable-sync",
                                  "--user-data-dir=" + profile.root()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, std::chrono::seconds(90));
}

}  // namespace zorbel::test
