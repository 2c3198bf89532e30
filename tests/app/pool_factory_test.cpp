#include "app/pool_factory.h"

#include <gtest/gtest.h>

#include <string>

#include "app/platform.h"
#include "core/log.h"
#include "core/settings/file_settings_store.h"
#include "support/temp_dir.h"

namespace skav::app {
namespace {

TEST(PoolScheme, IsTheNameBeforeTheFirstColon) {
  struct Case {
    const char* url;
    const char* scheme;
  };
  for (const Case& c : {Case{"", ""}, Case{"file:pool.reg", "file"}, Case{"file:", "file"},
                        Case{"postgresql://line@db/skav", "postgresql"},
                        Case{"postgres://db/skav", "postgres"}, Case{"host=db dbname=skav", ""},
                        Case{":x", ""}, Case{"1a:x", ""}, Case{"a b:x", ""}, Case{"FILE:x", "FILE"},
                        Case{"svn+ssh:x", "svn+ssh"}})
    EXPECT_EQ(pool_scheme(c.url), c.scheme) << c.url;
}

// A pool from a registry of the test's own, and the settings it stands on.
struct PoolRig {
  test::TempDir dir;
  settings::FileSettingsStore store{dir / "settings.reg"};
  std::filesystem::path settings_path = dir / "settings.reg";
  SetupOptions options;
  StringLog log;
  MadePool made;

  PoolRig() {
    options.dir = dir.path();
    options.ledger = dir / "ledger.txt";
  }
  Status make(const PoolFactories& factories) {
    return factories.make({options, store, settings_path, log}, made);
  }
};

int g_made = 0;
Status counting_factory(const PoolRequest&, MadePool&) {
  ++g_made;
  return {};
}

TEST(PoolFactories, AUrlGoesToTheFactoryOfItsSchemeOnly) {
  PoolFactories factories;
  factories.add("line", counting_factory);
  struct Case {
    const char* url;
    bool made;
    const char* message;  // empty when made
  };
  const std::string build = build_name();
  for (const Case& c :
       {Case{"line://db", true, ""}, Case{"line:", true, ""},
        Case{"", false, "--pool takes file:PATH or postgresql://..."},
        Case{"file:pool.reg", false, "--pool takes file:PATH or postgresql://..."},
        Case{"LINE://db", false, "--pool takes file:PATH or postgresql://..."},
        Case{"host=db password=secret",  false,
             "--pool takes file:PATH or postgresql://... (not key=value settings: name them in a "
             "service file, postgresql:///?service=NAME)"}}) {
    PoolRig rig;
    rig.options.pool = c.url;
    g_made = 0;
    Status made = rig.make(factories);
    EXPECT_EQ(made.ok(), c.made) << c.url;
    EXPECT_EQ(g_made, c.made ? 1 : 0) << c.url;
    EXPECT_EQ(made.message(), c.message) << c.url;
  }
  // Without a PostgreSQL factory a line's URL is told apart from a mistyped one.
  PoolRig rig;
  rig.options.pool = "postgresql://line:secret@db/skav";
  Status made = rig.make(factories);
  EXPECT_EQ(made.message(), "the " + build + " build has no PostgreSQL pool; use file:PATH");
  EXPECT_EQ(made.message().find("secret"), std::string::npos);
}

TEST(PoolFactories, TheBuildServesTheSettingsStoreAndFiles) {
  const PoolFactories& builtin = builtin_pool_factories();
  EXPECT_TRUE(builtin.has(""));
  EXPECT_TRUE(builtin.has("file"));
  EXPECT_FALSE(builtin.has("FILE"));
}

TEST(FilePool, ARelativeFileIsTheWorkingDirectorysAndHeldApartFromTheSettings) {
  PoolRig rig;
  rig.options.pool = "file:line/pool.reg";
  rig.options.mac = "00005A000010";
  std::filesystem::create_directories(rig.dir / "line");
  ASSERT_TRUE(rig.make(builtin_pool_factories()).ok()) << rig.log.text();
  ASSERT_NE(rig.made.store, nullptr);
  ASSERT_NE(rig.made.hold, nullptr);
  EXPECT_TRUE(rig.made.ledger_note.empty());
  settings::PoolResult<MacDigits::Digits> read = rig.made.pool->read_next(&rig.log);
  ASSERT_TRUE(read.ok()) << read.message;
  const MacDigits::Digits& next = read.value;
  EXPECT_EQ(std::string(next.begin(), next.end()), "00005A000010");
  // The next address went to the pool's file, not to the settings.
  MacDigits::Digits own{};
  EXPECT_NE(rig.store.machwid_peek(own), settings::kOk);
  MacDigits::Digits pooled{};
  EXPECT_EQ(settings::FileSettingsStore(rig.dir / "line" / "pool.reg").machwid_peek(pooled),
            settings::kOk);

  // One process holds a file pool: a second station on it is refused.
  PoolRig second;
  second.options.pool = "file:" + (rig.dir / "line" / "pool.reg").string();
  EXPECT_FALSE(second.make(builtin_pool_factories()).ok());
}

TEST(FilePool, NoUrlIsTheSettingsStoresOwnPool) {
  PoolRig rig;
  rig.options.simulate = 2;  // a simulation's pool is not the PC's: no ledger
  ASSERT_TRUE(rig.make(builtin_pool_factories()).ok());
  EXPECT_EQ(rig.made.store, nullptr);
  EXPECT_NE(rig.made.hold, nullptr);
  EXPECT_NE(rig.made.pool, nullptr);
}

TEST(FilePool, AFileUrlNeedsAPath) {
  PoolRig rig;
  rig.options.pool = "file:";
  Status made = rig.make(builtin_pool_factories());
  EXPECT_EQ(made.message(), "--pool takes file:PATH or postgresql://...");
  EXPECT_EQ(rig.made.hold, nullptr);
}

}  // namespace
}  // namespace skav::app
