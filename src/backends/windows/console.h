#pragma once

// The program's side of Unicode on Windows: its arguments and its console.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace skav::windows {

// The arguments of the wide command line in UTF-8, the program's name first; empty when the
// system cannot split it.
std::vector<std::string> command_line_utf8();

// Writes the UTF-8 `text` to `out` and flushes it: to a console as wide characters (the
// console shows them whatever its code page), to a pipe or a file as the bytes they are.
void write_utf8(std::FILE* out, std::string_view text);

}  // namespace skav::windows
