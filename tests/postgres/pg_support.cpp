#include "postgres/pg_support.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace skav::test {

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The server may be taken away or frozen only by a test that has it to itself.
bool may_disrupt() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string suite = test != nullptr ? test->test_suite_name() : "";
  const std::string mark = "Outage";
  if (suite.size() >= mark.size() && suite.compare(suite.size() - mark.size(), mark.size(), mark) == 0)
    return true;
  ADD_FAILURE() << "suite " << suite << " stops or freezes the server that the other tests share: "
                << "name it ...Outage, and ctest gives its tests a server of their own";
  return false;
}

bool cluster(const char* action) {
  if (!may_disrupt()) return false;
  std::string command = env("SKAV_TEST_PG_CLUSTER") + " " + action + " " + env("SKAV_TEST_PG_DIR");
  return std::system(command.c_str()) == 0;
}

}  // namespace

std::string PgServer::missing() {
  if (!env("SKAV_TEST_PG_URL").empty()) return {};
  std::string why = env("SKAV_TEST_PG_SKIP");
  return why.empty() ? "run under scripts/pg-test-cluster.sh (ctest does)" : why;
}

std::string PgServer::new_database() {
  static int count = 0;
  std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(++count);
  std::string dir = env("SKAV_TEST_PG_DIR");
  std::string command = "createdb -h '" + dir + "' -U skav " + name;
  if (std::system(command.c_str()) != 0) return {};
  return "postgresql://skav@/" + name + "?host=" + dir;
}

PgServer::Frozen::Frozen() {
  if (!may_disrupt()) return;
  pid_t server = 0;
  std::ifstream(std::filesystem::path(env("SKAV_TEST_PG_DIR")) / "data" / "postmaster.pid") >> server;
  if (server <= 0) return;
  pids_.push_back(server);
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    // /proc/PID/stat: "PID (NAME) STATE PPID ..."; the name may hold spaces, not a ')'.
    std::ifstream stat(entry.path() / "stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(text.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == server)
      pids_.push_back(static_cast<pid_t>(std::stol(name)));
  }
  for (pid_t pid : pids_) kill(pid, SIGSTOP);
}

PgServer::Frozen::~Frozen() {
  for (pid_t pid : pids_) kill(pid, SIGCONT);
}

bool PgServer::stop() { return cluster("stop"); }

std::string PgServer::query(const std::string& url, const std::string& sql) {
  // psql, as the tests make their databases with createdb: the tests do not talk libpq.
  std::string command = "psql -X -q -At -v ON_ERROR_STOP=1 '" + url + "' -c \"" + sql + "\" 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "error: cannot run psql";
  std::string out;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  if (pclose(pipe) != 0) return "error: " + out;
  return out.substr(0, out.find('\n'));
}

bool PgServer::start() { return cluster("start"); }

}  // namespace skav::test
