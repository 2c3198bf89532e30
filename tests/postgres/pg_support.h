#pragma once

#include <gtest/gtest.h>

#include <string>

namespace skav::test {

// The private PostgreSQL server that scripts/pg-test-cluster.sh started for this test program.
class PgServer {
 public:
  // Empty when there is one; else why not (the test skips with it).
  static std::string missing();
  // A new, empty database on the server for one test: its URL.
  static std::string new_database();
  // Takes the server away (a fast shut-down) and brings it back. True when it worked.
  static bool stop();
  static bool start();
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
