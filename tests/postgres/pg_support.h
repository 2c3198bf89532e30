#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace skav::test {

// Waits (bounded) until `condition` holds, looking every 20 ms.
template <typename Condition>
bool eventually(Condition condition, std::chrono::seconds limit = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// The private PostgreSQL server that scripts/pg-test-cluster.sh started for this test program.
class PgServer {
 public:
  // Empty when there is one; else why not (the test skips with it).
  static std::string missing();
  // A new, empty database on the server for one test: its URL.
  static std::string new_database();
  // Takes the server away (a fast shut-down) and brings it back. True when it worked. Only
  // for tests of a suite whose name ends in "Outage": ctest runs those each on a server of
  // its own, the others side by side on one; any other test fails here.
  static bool stop();
  static bool start();
  // Stops (SIGSTOP) every process of the server, the server's own and its connections', until
  // the object goes (SIGCONT): a server that takes connections and answers nothing. As
  // stop(), only for an Outage suite's tests.
  class Frozen {
   public:
    Frozen();
    ~Frozen();
    Frozen(const Frozen&) = delete;
    Frozen& operator=(const Frozen&) = delete;
    bool ok() const { return !pids_.empty(); }

   private:
    std::vector<pid_t> pids_;
  };
  // Runs `sql` on the database at `url`: the first row's text (NULL as ""); on failure
  // "error: " and the server's message.
  static std::string query(const std::string& url, const std::string& sql);
};

}  // namespace skav::test

// Skips the current test with a clear message when the private server is not there.
#define SKAV_REQUIRE_POSTGRES()                                              \
  do {                                                                        \
    std::string skav_pg_missing = ::skav::test::PgServer::missing();          \
    if (!skav_pg_missing.empty())                                             \
      GTEST_SKIP() << "needs a private PostgreSQL server: " << skav_pg_missing; \
  } while (0)
