#include "app/station_setup.h"

#include "app/platform.h"
#include "board/board_line.h"
#include "core/link/in_memory.h"
#include "core/settings/pool_hold.h"
#include "core/settings/store_address_pool.h"

namespace skav::app {

std::string find_adapter(link::FrameBackend& backend, const std::string& wanted) {
  link::AdapterListing listing = backend.list_adapters();
  for (const link::AdapterInfo& adapter : listing.adapters)
    if (adapter.name == wanted) return adapter.name;
  for (const link::AdapterInfo& adapter : listing.adapters)
    if (!adapter.description.empty() && adapter.description == wanted) return adapter.name;
  return {};
}

StationSetup::StationSetup() = default;

StationSetup::~StationSetup() { stop(); }

Status StationSetup::create(const SetupOptions& options, Log& log, station::StationEvents* events,
                            std::unique_ptr<StationSetup>& out) {
  std::unique_ptr<StationSetup> setup(new StationSetup);
  const bool simulated = options.simulate > 0;

  MacDigits::Digits mac{};
  if (!options.mac.empty() && !MacDigits::parse(options.mac, mac))
    return Status::error(EINVAL, "--mac needs 12 hexadecimal digits, not " + options.mac);

  station::StationOptions station_options;
  station_options.dir = options.dir;
  station_options.transfer_timeout = options.timeout;
  station_options.tick_period = options.tick;
  if (options.barcode) station_options.barcode = *options.barcode ? 1 : 0;
  if (simulated) {
    setup->wire_ = std::make_unique<link::InMemoryWire>();
    setup->backend_ = std::make_unique<link::InMemoryBackend>(*setup->wire_);
    // The simulated link has one adapter: it is the one to use, whatever the store holds.
    station_options.interface = link::InMemoryBackend::kAdapterName;
  } else {
    setup->backend_ = make_adapter_backend();
    if (!options.interface.empty()) {
      std::string name = find_adapter(*setup->backend_, options.interface);
      if (name.empty())
        return Status::error(ENODEV, "no adapter named " + options.interface + " (see skav adapters)");
      station_options.interface = name;
    }
  }

  SettingsPlace place = settings_place(options.settings, simulated);
  if (!place.store)
    return Status::error(ENOENT, "no settings file: set $HOME, $SKAV_SETTINGS or --settings");
  setup->settings_path_ = place.pool_file;
  if (Status held = settings::PoolHold::acquire(setup->settings_path_, options.program, setup->hold_);
      !held.ok())
    return held;
  setup->store_ = std::move(place.store);
  setup->pool_ = std::make_unique<settings::StoreAddressPool>(*setup->store_);
  if (!options.mac.empty()) setup->pool_->write_next(&log, mac);

  if (simulated) {
    // Finished boards are not kept: a long simulated shift must not grow.
    setup->line_ = std::make_unique<board::BoardLine>(setup->wire_->board_end(), options.board,
                                                      options.simulate, false);
  }
  setup->station_ = std::make_unique<station::Station>(*setup->backend_, *setup->store_,
                                                       *setup->pool_, log, events, station_options);
  out = std::move(setup);
  return {};
}

settings::SettingsStore& StationSetup::store() { return *store_; }

void StationSetup::start() {
  station_->post_start_up();
  station_->start();
  if (line_) line_->start();
}

void StationSetup::stop() {
  if (station_) station_->stop();
  if (line_) line_->stop();
}

}  // namespace skav::app
