#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "app/station_setup.h"
#include "core/log.h"
#include "core/settings/address_pool.h"
#include "core/settings/file_settings_store.h"
#include "core/settings/pool_hold.h"
#include "core/settings/settings_store.h"
#include "core/status.h"

namespace skav::app {

// What a pool is built from: the station's options (`pool` the URL) and its settings.
struct PoolRequest {
  const SetupOptions& options;
  settings::SettingsStore& store;               // the station's settings
  const std::filesystem::path& settings_path;  // the file whose lock holds the settings' pool
  Log& log;
};

// A pool with what it stands on. Members go in reverse order, the pool first.
struct MadePool {
  std::unique_ptr<settings::FileSettingsStore> store;  // a file pool apart from the settings
  std::unique_ptr<settings::PoolHold> hold;            // this process's claim on a file pool
  std::unique_ptr<settings::AddressPool> pool;
  // Where the PC's address ledger cannot guard the pool: what to tell the operator. Else empty.
  std::string ledger_note;
  // What hears the line's snapshots beside the face (a line's database publishes its ports);
  // may be null. It outlives the line.
  std::unique_ptr<line::LineEvents> watcher;
};

// Builds the pool of one URL scheme. Fails with a message for the operator; `out` is then
// left for the caller to drop.
using PoolFactory = Status (*)(const PoolRequest& request, MadePool& out);

// The pool factories, keyed by the scheme of the pool URL ("file" for file:PATH, "postgresql"
// for postgresql://..., "" for no URL at all).
class PoolFactories {
 public:
  // Registers (or replaces) the factory of `scheme`, without the ':' (schemes are told apart
  // as written: "FILE:" is not "file:").
  void add(const std::string& scheme, PoolFactory factory) { factories_[scheme] = factory; }
  bool has(const std::string& scheme) const { return factories_.contains(scheme); }
  // Builds the pool `request.options.pool` names. Fails without touching anything when the URL
  // has no scheme or one no factory serves (the message never shows the URL: it may hold a
  // password).
  Status make(const PoolRequest& request, MadePool& out) const;

 private:
  std::map<std::string, PoolFactory> factories_;
};

// This build's factories: the settings store's own pool (no URL), file:PATH, and where the
// build has the PostgreSQL client, postgresql:// and postgres://.
const PoolFactories& builtin_pool_factories();

// Adds the PostgreSQL pool's factories where the build has the client; nothing elsewhere.
void add_postgres_pools(PoolFactories& factories);

// The scheme of a pool URL ("file" of "file:x"); empty for an empty URL or one without a
// scheme ("host=db").
std::string pool_scheme(const std::string& url);

// The complaint about a pool URL no factory takes (it does not show the URL).
Status not_a_pool_url(const std::string& url);

// builtin_pool_factories().make(request, out).
Status make_pool(const PoolRequest& request, MadePool& out);

}  // namespace skav::app
