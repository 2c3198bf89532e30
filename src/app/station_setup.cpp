#include "app/station_setup.h"

#include <atomic>
#include <functional>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "app/platform.h"
#include "app/pool_factory.h"
#include "sim/board_line.h"
#include "core/link/in_memory.h"
#include "core/settings/file_settings_store.h"
#include "core/settings/pool_hold.h"

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

// A real adapter's port: the platform's adapter access alone.
class AdapterAccess : public line::PortAccess {
 public:
  explicit AdapterAccess(std::unique_ptr<link::FrameBackend> backend) : backend_(std::move(backend)) {}
  link::FrameBackend& backend() override { return *backend_; }

 private:
  std::unique_ptr<link::FrameBackend> backend_;
};

// A simulated port: its own in-process wire, the station's access to it, and the line of
// simulated boards on its far end, which runs on a thread of its own while the line does.
class SimulatedAccess : public line::PortAccess {
 public:
  explicit SimulatedAccess(const std::string& name) {
    if (name == link::InMemoryBackend::kAdapterName)
      backend_ = std::make_unique<link::InMemoryBackend>(wire_);
    else
      backend_ = std::make_unique<NamedSimBackend>(wire_, name);
  }
  ~SimulatedAccess() override { stop(); }
  link::FrameBackend& backend() override { return *backend_; }
  void start() override {
    if (boards_) boards_->start();
  }
  void stop() override {
    if (boards_) boards_->stop();
  }
  // Finished boards are not kept: a long simulated shift must not grow.
  void make_boards(const sim::BoardOptions& options, int count) {
    boards_ = std::make_unique<sim::BoardLine>(wire_.board_end(), options, count, false);
  }

 private:
  link::InMemoryWire wire_;
  std::unique_ptr<link::FrameBackend> backend_;
  std::unique_ptr<sim::BoardLine> boards_;
};

}  // namespace

std::string find_adapter(link::FrameBackend& backend, const std::string& wanted,
                         std::string& problem) {
  link::AdapterListing listing = backend.list_adapters();
  if (!listing.ok) {
    problem = "no adapter named " + wanted + ": the adapters could not be listed: " + listing.error;
    return {};
  }
  for (const link::AdapterInfo& adapter : listing.adapters)
    if (adapter.name == wanted) return adapter.name;
  // The names people use: two adapters may share one (two cards of one model), and then it
  // names neither.
  for (std::string link::AdapterInfo::*field :
       {&link::AdapterInfo::friendly_name, &link::AdapterInfo::description}) {
    const link::AdapterInfo* found = nullptr;
    int matches = 0;
    for (const link::AdapterInfo& adapter : listing.adapters)
      if (!(adapter.*field).empty() && adapter.*field == wanted) {
        found = &adapter;
        ++matches;
      }
    if (matches == 1) return found->name;
    if (matches > 1) {
      problem = std::to_string(matches) + " adapters are named " + wanted +
                ": give the system name (see skav adapters)";
      return {};
    }
  }
  problem = "no adapter named " + wanted + " (see skav adapters)";
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

namespace {

// The face's events and the pool's watcher, both told of each snapshot.
class BothEvents : public line::LineEvents {
 public:
  BothEvents(line::LineEvents* face, line::LineEvents* watcher) : face_(face), watcher_(watcher) {}
  void on_snapshot(std::shared_ptr<const line::LineSnapshot> snapshot) override {
    if (face_ != nullptr) face_->on_snapshot(snapshot);
    watcher_->on_snapshot(std::move(snapshot));
  }

 private:
  line::LineEvents* face_;
  line::LineEvents* watcher_;
};

}  // namespace

StationSetup::StationSetup() = default;

StationSetup::~StationSetup() = default;

Status StationSetup::make_pool(const SetupOptions& options, Log& log) {
  MadePool made;
  if (Status built = app::make_pool({options, *store_, settings_path_, log}, made); !built.ok())
    return built;
  pool_store_ = std::move(made.store);
  hold_ = std::move(made.hold);
  pool_ = std::move(made.pool);
  ledger_note_ = std::move(made.ledger_note);
  watcher_ = std::move(made.watcher);
  return {};
}

Status StationSetup::create(const SetupOptions& options, const SinksFor& sinks,
                            std::unique_ptr<StationSetup>& out, line::LineEvents* events) {
  std::unique_ptr<StationSetup> setup(new StationSetup);
  const bool simulated = options.simulate > 0;

  MacDigits::Digits mac{};
  if (!options.mac.empty() && !MacDigits::parse(options.mac, mac))
    return Status::error(EINVAL, "--mac needs 12 hexadecimal digits, not " + options.mac);
  if (!options.mac.empty() && MacDigits::group(mac))
    return Status::error(EINVAL, "--mac " + options.mac +
                                     " is a group (multicast) address, not a board's own");

  // The ports: each its own adapter access, and for a simulation its own wire and boards.
  line::LineParts parts;
  if (simulated) {
    int ports = std::max(options.ports, 1);
    for (int i = 0; i < ports; ++i) {
      line::PortParts port;
      port.name = "sim" + std::to_string(i);
      // The first port keeps the in-process link's own name.
      port.access = std::make_unique<SimulatedAccess>(
          i == 0 ? std::string(link::InMemoryBackend::kAdapterName) : port.name);
      parts.ports.push_back(std::move(port));
    }
  } else {
    std::vector<std::string> wanted = options.interfaces;
    if (wanted.empty()) wanted.push_back(options.interface);
    std::set<std::string> names;
    for (const std::string& interface : wanted) {
      line::PortParts port;
      port.access = std::make_unique<AdapterAccess>(make_adapter_backend());
      if (!interface.empty()) {
        std::string problem;
        port.name = find_adapter(port.access->backend(), interface, problem);
        if (port.name.empty()) return Status::error(ENODEV, problem);
        if (!names.insert(port.name).second)
          return Status::error(EINVAL, "adapter " + port.name + " is named twice");
      } else if (wanted.size() > 1) {
        return Status::error(EINVAL, "an empty adapter name among several");
      }
      parts.ports.push_back(std::move(port));
    }
  }

  SettingsPlace place = settings_place(options.settings, simulated);
  if (!place.store)
    return Status::error(ENOENT, "no settings file: set $HOME, $SKAV_SETTINGS or --settings");
  setup->settings_path_ = place.pool_file;
  setup->store_ = std::move(place.store);

  std::vector<std::string> port_names;
  for (const line::PortParts& port : parts.ports) port_names.push_back(port.name);
  PortSinks first = sinks(0, port_names);
  StringLog no_log;
  Log& setup_log = first.log != nullptr ? *first.log : no_log;
  if (Status made = setup->make_pool(options, setup_log); !made.ok()) return made;

  for (std::size_t i = 0; i < parts.ports.size(); ++i) {
    line::PortParts& port = parts.ports[i];
    PortSinks port_sinks = i == 0 ? first : sinks(i, port_names);
    if (port_sinks.log == nullptr) return Status::error(EINVAL, "no log for port " + port.name);
    port.log = port_sinks.log;
    port.events = port_sinks.events;
    station::StationOptions& station_options = port.options;
    station_options.dir = options.dir;
    station_options.transfer_timeout = options.timeout;
    station_options.tick_period = options.tick;
    if (options.barcode) station_options.barcode = *options.barcode ? station::BarcodeMode::kOn : station::BarcodeMode::kOff;
    // A simulated port has one adapter, its own: it is the one to use, whatever the store holds.
    if (simulated || !port.name.empty()) station_options.interface = port.name;
    if (simulated) {
      // Every board of the station has its own MAC address: port k's boards follow port k-1's.
      sim::BoardOptions boards = options.board;
      boards.mac = sim::mac_plus(options.board.mac, static_cast<std::uint64_t>(i) *
                                                          static_cast<std::uint64_t>(options.simulate));
      if (options.faults_port >= 0 && static_cast<std::size_t>(options.faults_port) != i) boards.faults = {};
      static_cast<SimulatedAccess&>(*port.access).make_boards(boards, options.simulate);
    }
  }
  // A line that ends after a number of boards starts exactly that many runs over all its
  // ports, so that none is cut off mid-run at the end.
  parts.boards = options.boards;
  parts.records_file = options.dir / station::kRecordsFile;
  parts.store = std::move(setup->store_);
  parts.pool_store = std::move(setup->pool_store_);
  parts.hold = std::move(setup->hold_);
  parts.pool = std::move(setup->pool_);
  if (setup->watcher_) {
    setup->both_events_ = std::make_unique<BothEvents>(events, setup->watcher_.get());
    events = setup->both_events_.get();
  }
  setup->line_ = std::make_unique<line::Line>(std::move(parts), events);
  out = std::move(setup);
  return {};
}

Status StationSetup::create_with_stored_ports(
    SetupOptions options, const std::vector<std::string>& stored_ports,
    const std::function<SinksFor(std::size_t ports)>& prepare, std::unique_ptr<StationSetup>& out,
    line::LineEvents* events) {
  std::vector<std::string> ports = options.interfaces;
  if (ports.empty() && !options.interface.empty()) ports.push_back(options.interface);
  const bool stored = options.simulate == 0 && ports.empty() && stored_ports.size() > 1;
  if (stored) ports = stored_ports;
  SinksFor sinks;
  auto make = [&](const std::vector<std::string>& chosen) {
    options.interface = chosen.size() == 1 ? chosen.front() : std::string();
    options.interfaces = chosen.size() > 1 ? chosen : std::vector<std::string>{};
    std::size_t count = options.simulate > 0 ? static_cast<std::size_t>(std::max(options.ports, 1))
                                             : std::max<std::size_t>(chosen.size(), 1);
    sinks = prepare(count);
    return create(options, sinks, out, events);
  };
  Status made = make(ports);
  if (made.ok() || !stored) return made;
  // The stored ports cannot all be opened (an adapter went away): one port on NetIF, so that
  // the operator can choose again.
  std::string why = made.message();
  made = make({});
  if (made.ok()) {
    if (Log* log = sinks(0, {out->line().port_name(0)}).log)
      log_sink(log, "Several ports not opened: %s\r\n", why.c_str());
  }
  return made;
}

}  // namespace skav::app
