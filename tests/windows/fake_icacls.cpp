// Stands in for icacls.exe in the Wine prefix of the installer tests (Wine's own only says
// "stub"): appends its arguments, one call a line in UTF-8, to C:\icacls-test\calls.log, so
// that a test can read the rights an installer asks for. While C:\icacls-test\hold exists it
// makes C:\icacls-test\held and waits (at most a minute) for hold to go: a test holds an
// installer in the middle of its work that way.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

namespace {

void append_utf8(std::FILE* out, const wchar_t* text) {
  char bytes[4096];
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
  if (size > 1) std::fwrite(bytes, 1, static_cast<std::size_t>(size) - 1, out);
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  CreateDirectoryW(L"C:\\icacls-test", nullptr);
  std::FILE* log = _wfopen(L"C:\\icacls-test\\calls.log", L"ab");
  if (log == nullptr || args == nullptr) return 1;
  for (int i = 1; i < count; ++i) {
    if (i > 1) std::fputc(' ', log);
    append_utf8(log, args[i]);
  }
  std::fputc('\n', log);
  std::fclose(log);
  if (GetFileAttributesW(L"C:\\icacls-test\\hold") != INVALID_FILE_ATTRIBUTES) {
    HANDLE held = CreateFileW(L"C:\\icacls-test\\held", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    for (int tick = 0; tick < 1200; ++tick) {
      if (GetFileAttributesW(L"C:\\icacls-test\\hold") == INVALID_FILE_ATTRIBUTES) break;
      Sleep(50);
    }
  }
  return 0;
}
