#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace skav::test {

// This test program's own path.
std::string own_program();

// Runs this test program again with only the tests `filter` selects, with the environment
// variables given added to this process's, and waits for it (at most a minute). Its exit code:
// 0 when the selected tests passed; 255 when it could not be started or did not end.
DWORD run_self(const std::string& filter,
               const std::vector<std::pair<std::string, std::string>>& environment);

}  // namespace skav::test
