#include "app/pool_factory.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "app/platform.h"
#include "core/mac_digits.h"
#include "core/platform/files.h"
#include "core/platform/utf8.h"
#include "core/settings/address_ledger.h"
#include "core/settings/ledger_address_pool.h"
#include "core/settings/store_address_pool.h"
#include "core/station/records.h"

namespace skav::app {

Status not_a_pool_url(const std::string& url) {
  // The value is not shown back: a connection string of another form may hold a password.
  return Status::error(EINVAL, "--pool takes file:PATH or postgresql://..." +
                                   (url.find('=') != std::string::npos
                                        ? std::string(" (not key=value settings: name them in a "
                                                      "service file, postgresql:///?service=NAME)")
                                        : std::string()));
}

namespace {

// Wraps a file pool in the PC's address ledger, so that two accounts on one PC never hand out
// one address; without the ledger's folder the per-user pool still holds, and the note says so.
void guard_with_ledger(const std::filesystem::path& given, MadePool& out) {
  std::filesystem::path file = given;
  if (const char* env = std::getenv("SKAV_LEDGER"); file.empty() && env != nullptr && *env != '\0')
    file = env;
  if (file.empty()) {
    std::filesystem::path folder = platform::machine_data_folder();
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
      out.ledger_note = missing_ledger_note(folder);
      return;
    }
    file = folder / "address-ledger.txt";
  }
  out.pool = std::make_unique<settings::LedgerAddressPool>(
      std::move(out.pool),
      std::make_unique<settings::AddressLedger>(file, account_name(), station::iso8601_now));
}

// The MACHWID of a settings file, held by this process alone: the station's own settings
// (no URL) or another file (file:PATH).
Status make_file_pool(const PoolRequest& request, MadePool& out) {
  const SetupOptions& options = request.options;
  std::filesystem::path pool_path = request.settings_path;
  if (!options.pool.empty()) {
    if (options.pool.size() == 5) return not_a_pool_url(options.pool);
    pool_path = platform::path_from_utf8(options.pool.substr(5));
    // Like config.ini and the records, a relative pool file is the working directory's.
    if (pool_path.is_relative()) pool_path = options.dir / pool_path;
  }
  if (Status held = settings::PoolHold::acquire(pool_path, options.program, out.hold); !held.ok())
    return held;
  settings::SettingsStore* store = &request.store;
  if (pool_path != request.settings_path) {
    out.store = std::make_unique<settings::FileSettingsStore>(pool_path);
    store = out.store.get();
  }
  out.pool = std::make_unique<settings::StoreAddressPool>(*store);
  if (options.simulate == 0) guard_with_ledger(options.ledger, out);
  if (!options.mac.empty()) {
    MacDigits::Digits mac{};
    MacDigits::parse(options.mac, mac);
    if (settings::PoolResult<> written = out.pool->write_next(&request.log, mac); !written.ok())
      return Status::error(EIO, "--mac: " + written.message);
  }
  return {};
}

PoolFactories make_builtin() {
  PoolFactories factories;
  factories.add("", make_file_pool);
  factories.add("file", make_file_pool);
  add_postgres_pools(factories);
  return factories;
}

}  // namespace

std::string pool_scheme(const std::string& url) {
  std::size_t colon = url.find(':');
  if (colon == std::string::npos || colon == 0) return {};
  std::string scheme;
  for (std::size_t i = 0; i < colon; ++i) {
    auto c = static_cast<unsigned char>(url[i]);
    bool fits = std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.'));
    if (!fits || c >= 0x80) return {};
    scheme += static_cast<char>(c);
  }
  return scheme;
}

Status PoolFactories::make(const PoolRequest& request, MadePool& out) const {
  const std::string& url = request.options.pool;
  std::string scheme = pool_scheme(url);
  if (scheme.empty() && !url.empty()) return not_a_pool_url(url);
  auto found = factories_.find(scheme);
  if (found != factories_.end()) return found->second(request, out);
  // A line's shared pool is reached from a build with the PostgreSQL client.
  if (url.starts_with("postgres"))
    return Status::error(EINVAL, "the " + std::string(build_name()) +
                                     " build has no PostgreSQL pool; use file:PATH");
  return not_a_pool_url(url);
}

const PoolFactories& builtin_pool_factories() {
  static const PoolFactories factories = make_builtin();
  return factories;
}

Status make_pool(const PoolRequest& request, MadePool& out) {
  return builtin_pool_factories().make(request, out);
}

}  // namespace skav::app
