#include "app/station_setup.h"

#include <atomic>
#include <functional>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "app/platform.h"
#include "sim/board_line.h"
#include "core/link/in_memory.h"
#include "core/station/records.h"
#include "core/platform/files.h"
#include "core/settings/file_settings_store.h"
#include "core/settings/ledger_address_pool.h"
#include "core/settings/pool_hold.h"
#include "core/settings/store_address_pool.h"
#ifndef _WIN32
#include "backends/postgres/pg_pool.h"
#endif

namespace skav::app {

namespace {

// The in-process link of one simulated port under the port's own name (sim1, sim2, ...), so
// that the ports of one station tell their logs and records apart.
class NamedSimBackend : public link::FrameBackend {
 public:
  NamedSimBackend(link::InMemoryWire& wire, std::string name) : inner_(wire), name_(std::move(name)) {}
  link::AdapterListing list_adapters() override {
    link::AdapterListing listing = inner_.list_adapters();
    for (link::AdapterInfo& adapter : listing.adapters)
      if (adapter.name == link::InMemoryBackend::kAdapterName) adapter.name = name_;
    return listing;
  }
  std::optional<link::Mac> adapter_mac(const std::string& name) override {
    return inner_.adapter_mac(inner_name(name));
  }
  link::OpenResult open(const std::string& name) override { return inner_.open(inner_name(name)); }

 private:
  std::string inner_name(const std::string& name) const {
    return name == name_ ? link::InMemoryBackend::kAdapterName : name;
  }
  link::InMemoryBackend inner_;
  std::string name_;
};

#ifndef _WIN32
std::string host_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}
#endif

}  // namespace

std::string find_adapter(link::FrameBackend& backend, const std::string& wanted) {
  link::AdapterListing listing = backend.list_adapters();
  for (const link::AdapterInfo& adapter : listing.adapters)
    if (adapter.name == wanted) return adapter.name;
  for (const link::AdapterInfo& adapter : listing.adapters)
    if (!adapter.description.empty() && adapter.description == wanted) return adapter.name;
  return {};
}

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// FNV-1a, 32 bits, as 8 lowercase hexadecimal digits: the same on every platform and run.
std::string name_hash(const std::string& name) {
  std::uint32_t hash = 2166136261u;
  for (char c : name) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(hash));
  return text;
}

// The names that occur more than once among `names`, ignoring case.
std::set<std::string> repeated(const std::vector<std::string>& names) {
  std::set<std::string> seen, twice;
  for (const std::string& name : names)
    if (!seen.insert(lower(name)).second) twice.insert(lower(name));
  return twice;
}

}  // namespace

std::vector<std::string> port_log_names(const std::vector<std::string>& ports) {
  std::vector<std::string> stems;
  std::vector<bool> hashed;
  for (const std::string& port : ports) {
    std::string stem = port;
    for (char& c : stem) {
      auto byte = static_cast<unsigned char>(c);
      bool kept = (byte < 0x80 && std::isalnum(byte)) || c == '-' || c == '_' || c == '.';
      if (!kept) c = '_';
    }
    // The stem alone would be shared with the port whose name it spells.
    hashed.push_back(stem != port);
    stems.push_back(hashed.back() ? stem + "-" + name_hash(port) : stem);
  }
  std::set<std::string> clashes = repeated(stems);
  for (std::size_t i = 0; i < stems.size(); ++i)
    if (!hashed[i] && clashes.contains(lower(stems[i]))) stems[i] += "-" + name_hash(ports[i]);
  std::set<std::string> taken;
  for (std::string& stem : stems) {
    std::string unique = stem;
    for (int n = 2; !taken.insert(lower(unique)).second; ++n) unique = stem + "-" + std::to_string(n);
    stem = unique + ".log";
  }
  return stems;
}

StationSetup::StationSetup() = default;

StationSetup::~StationSetup() { stop(); }

void StationSetup::guard_with_ledger(const std::filesystem::path& given) {
  std::filesystem::path file = given;
  if (const char* env = std::getenv("SKAV_LEDGER"); file.empty() && env != nullptr && *env != '\0')
    file = env;
  if (file.empty()) {
    // Without its folder there is nothing to share; the per-user pool still holds.
    std::filesystem::path folder = platform::machine_data_folder();
    std::error_code error;
    if (folder.empty() || !std::filesystem::is_directory(folder, error)) {
      ledger_note_ = missing_ledger_note(folder);
      return;
    }
    file = folder / "address-ledger.txt";
  }
  pool_ = std::make_unique<settings::LedgerAddressPool>(
      std::move(pool_),
      std::make_unique<settings::AddressLedger>(file, account_name(), station::iso8601_now));
}

Status StationSetup::make_pool(const SetupOptions& options, Log& log) {
  const std::string& pool = options.pool;
#ifdef _WIN32
  // The Windows build has no PostgreSQL client: a line's shared pool is reached from Linux.
  if (pool.starts_with("postgres"))
    return Status::error(EINVAL, "the Windows build has no PostgreSQL pool; use file:PATH");
#else
  if (postgres::is_postgres_url(pool)) {
    if (Status checked = postgres::check_url(pool); !checked.ok()) return checked;
    if (!options.mac.empty())
      return Status::error(EINVAL, "--mac sets a station's own next address; the line's pool gives "
                                   "the addresses of its range (skav pool init)");
    // The station's own reservations and kept records are known by its identity, which stays
    // with its settings: host names repeat on cloned PCs.
    std::string station_id;
    if (int err = store_->station_id(&log, station_id); err != settings::kOk)
      return Status::error(err, "cannot read or store this station's identity in " + settings_path_.string());
    auto shared = std::make_unique<postgres::PgAddressPool>(
        pool, options.host.empty() ? host_name() : options.host, station_id, options.dir);
    if (Status ready = shared->check_ready(); !ready.ok()) return ready;
    pool_ = std::move(shared);
    return {};
  }
#endif
  std::filesystem::path pool_path = settings_path_;
  if (!pool.empty()) {
    if (!pool.starts_with("file:") || pool.size() == 5)
      // The value is not shown back: a connection string of another form may hold a password.
      return Status::error(EINVAL, "--pool takes file:PATH or postgresql://..." +
                                       (pool.find('=') != std::string::npos
                                            ? std::string(" (not key=value settings: name them in a "
                                                          "service file, postgresql:///?service=NAME)")
                                            : std::string()));
    pool_path = std::filesystem::path(pool.substr(5));
    // Like config.ini and the records, a relative pool file is the working directory's.
    if (pool_path.is_relative()) pool_path = options.dir / pool_path;
  }
  if (Status held = settings::PoolHold::acquire(pool_path, options.program, hold_); !held.ok()) return held;
  settings::SettingsStore* store = store_.get();
  if (pool_path != settings_path_) {
    pool_store_ = std::make_unique<settings::FileSettingsStore>(pool_path);
    store = pool_store_.get();
  }
  pool_ = std::make_unique<settings::StoreAddressPool>(*store);
  if (options.simulate == 0) guard_with_ledger(options.ledger);
  if (!options.mac.empty()) {
    MacDigits::Digits mac{};
    MacDigits::parse(options.mac, mac);
    if (settings::PoolResult<> written = pool_->write_next(&log, mac); !written.ok())
      return Status::error(EIO, "--mac: " + written.message);
  }
  return {};
}

Status StationSetup::create(const SetupOptions& options, const SinksFor& sinks,
                            std::unique_ptr<StationSetup>& out) {
  std::unique_ptr<StationSetup> setup(new StationSetup);
  const bool simulated = options.simulate > 0;

  MacDigits::Digits mac{};
  if (!options.mac.empty() && !MacDigits::parse(options.mac, mac))
    return Status::error(EINVAL, "--mac needs 12 hexadecimal digits, not " + options.mac);
  if (!options.mac.empty() && MacDigits::group(mac))
    return Status::error(EINVAL, "--mac " + options.mac +
                                     " is a group (multicast) address, not a board's own");

  // The ports: each its own adapter access, and for a simulation its own wire and boards.
  if (simulated) {
    int ports = std::max(options.ports, 1);
    for (int i = 0; i < ports; ++i) {
      auto port = std::make_unique<Port>();
      port->wire = std::make_unique<link::InMemoryWire>();
      port->name = "sim" + std::to_string(i);
      if (i == 0)
        port->backend = std::make_unique<link::InMemoryBackend>(*port->wire);
      else
        port->backend = std::make_unique<NamedSimBackend>(*port->wire, port->name);
      setup->ports_.push_back(std::move(port));
    }
  } else {
    std::vector<std::string> wanted = options.interfaces;
    if (wanted.empty()) wanted.push_back(options.interface);
    std::set<std::string> names;
    for (const std::string& interface : wanted) {
      auto port = std::make_unique<Port>();
      port->backend = make_adapter_backend();
      if (!interface.empty()) {
        port->name = find_adapter(*port->backend, interface);
        if (port->name.empty())
          return Status::error(ENODEV, "no adapter named " + interface + " (see skav adapters)");
        if (!names.insert(port->name).second)
          return Status::error(EINVAL, "adapter " + port->name + " is named twice");
      } else if (wanted.size() > 1) {
        return Status::error(EINVAL, "an empty adapter name among several");
      }
      setup->ports_.push_back(std::move(port));
    }
  }

  SettingsPlace place = settings_place(options.settings, simulated);
  if (!place.store)
    return Status::error(ENOENT, "no settings file: set $HOME, $SKAV_SETTINGS or --settings");
  setup->settings_path_ = place.pool_file;
  setup->store_ = std::move(place.store);

  std::vector<std::string> port_names;
  for (const std::unique_ptr<Port>& port : setup->ports_) port_names.push_back(port->name);
  PortSinks first = sinks(0, port_names);
  StringLog no_log;
  Log& setup_log = first.log != nullptr ? *first.log : no_log;
  if (Status made = setup->make_pool(options, setup_log); !made.ok()) return made;

  // A line that ends after a number of boards starts exactly that many runs over all its
  // ports, so that none is cut off mid-run at the end.
  std::function<bool()> take_run;
  if (options.boards > 0) {
    auto runs_left = std::make_shared<std::atomic<int>>(options.boards);
    take_run = [runs_left] {
      int left = runs_left->load();
      while (left > 0 && !runs_left->compare_exchange_weak(left, left - 1)) {
      }
      return left > 0;
    };
  }

  for (std::size_t i = 0; i < setup->ports_.size(); ++i) {
    Port& port = *setup->ports_[i];
    PortSinks port_sinks = i == 0 ? first : sinks(i, port_names);
    if (port_sinks.log == nullptr) return Status::error(EINVAL, "no log for port " + port.name);
    station::StationOptions station_options;
    station_options.dir = options.dir;
    station_options.transfer_timeout = options.timeout;
    station_options.tick_period = options.tick;
    station_options.take_run = take_run;
    if (options.barcode) station_options.barcode = *options.barcode ? station::BarcodeMode::kOn : station::BarcodeMode::kOff;
    // A simulated port has one adapter, its own: it is the one to use, whatever the store holds.
    if (simulated || !port.name.empty()) station_options.interface = port.name;
    if (simulated) {
      // Every board of the station has its own MAC address: port k's boards follow port k-1's.
      sim::BoardOptions boards = options.board;
      boards.mac = sim::mac_plus(options.board.mac, static_cast<std::uint64_t>(i) *
                                                          static_cast<std::uint64_t>(options.simulate));
      if (options.faults_port >= 0 && static_cast<std::size_t>(options.faults_port) != i) boards.faults = {};
      // Finished boards are not kept: a long simulated shift must not grow.
      port.line = std::make_unique<sim::BoardLine>(port.wire->board_end(), boards,
                                                     options.simulate, false);
    }
    port.station = std::make_unique<station::Station>(*port.backend, *setup->store_, *setup->pool_,
                                                      *port_sinks.log, port_sinks.events,
                                                      station_options);
  }
  out = std::move(setup);
  return {};
}

settings::SettingsStore& StationSetup::store() { return *store_; }

void StationSetup::start() {
  for (auto& port : ports_) {
    port->station->post_start_up();
    port->station->start();
    if (port->line) port->line->start();
  }
}

void StationSetup::stop() {
  // A run waiting on the pool's database would otherwise hold its station for the call's limit.
  if (pool_) pool_->interrupt();
  for (auto& port : ports_)
    if (port->station) port->station->stop();
  for (auto& port : ports_)
    if (port->line) port->line->stop();
}

}  // namespace skav::app
