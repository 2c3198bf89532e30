#include "backends/windows/console.h"

#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include "core/platform/wide_windows.h"

namespace skav::windows {

std::vector<std::string> command_line_utf8() {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(platform::utf8_of_wide(wide[i]));
  LocalFree(wide);
  return arguments;
}

void write_utf8(std::FILE* out, std::string_view text) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
    return;
  }
  // What the stream still holds goes first, so that the order stays.
  std::fflush(out);
  const std::wstring wide = platform::wide_of(text);
  DWORD written = 0;
  WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

}  // namespace skav::windows
