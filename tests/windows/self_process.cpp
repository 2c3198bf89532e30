#include "self_process.h"

namespace skav::test {

std::string own_program() {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  return program;
}

DWORD run_self(const std::string& filter,
               const std::vector<std::pair<std::string, std::string>>& environment) {
  // The child inherits this process's environment: set the variables around its start, then
  // put back what was there.
  std::vector<std::pair<std::string, std::string>> saved;
  std::vector<std::string> absent;
  for (const auto& [name, value] : environment) {
    char old[32767];
    DWORD n = GetEnvironmentVariableA(name.c_str(), old, sizeof old);
    if (n > 0 && n < sizeof old) saved.emplace_back(name, std::string(old, n));
    else absent.push_back(name);
    SetEnvironmentVariableA(name.c_str(), value.c_str());
  }
  std::string command = "\"" + own_program() + "\" --gtest_filter=" + filter;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &process);
  for (const auto& [name, value] : saved) SetEnvironmentVariableA(name.c_str(), value.c_str());
  for (const std::string& name : absent) SetEnvironmentVariableA(name.c_str(), nullptr);
  if (!started) return 255;
  DWORD code = 255;
  if (WaitForSingleObject(process.hProcess, 60'000) == WAIT_OBJECT_0)
    GetExitCodeProcess(process.hProcess, &code);
  else
    TerminateProcess(process.hProcess, 255);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

}  // namespace skav::test
