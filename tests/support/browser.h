// Headless Chromium for tests that check what a browser makes of a page.
#pragma once

#include "run.h"

#include <optional>
#include <string>
#include <vector>

namespace zorbel::test {

// Runs /usr/bin/chromium headless, as root can (no sandbox), with a fresh
// empty profile and no network use of its own, plus `args`; nullopt when
// chromium is not installed.
std::optional<RunResult> headless_chromium(const std::vector<std::string> &args);

}  // namespace zorbel::test
