#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace skav::test {

// The rows a terminal shows after it received `bytes`: printable characters overwrite the row
// at the cursor, CR goes to the row's start, LF to the next row's start (as a terminal's output
// processing turns "\n" into "\r\n"), BS one column back, and ESC [ K erases to the row's end.
// Other escape sequences are not understood: their bytes show as they are.
std::vector<std::string> screen_rows(std::string_view bytes);

}  // namespace skav::test
