#include "station_rig.h"

#include "gui/log_view.h"

namespace skav::gui::test {

StationRig::StationRig(int barcode) {
  store = std::make_unique<settings::FileSettingsStore>(settings_path());
  if (barcode >= 0) store->number_write(nullptr, settings::kBarCode, barcode);
  station::StationOptions options;
  options.dir = dir.path().toStdString();
  station = std::make_unique<station::Station>(backend, *store, window.log(), &window.events(),
                                               options);
  window.set_station(station.get());
  board_thread_ = std::thread([this] { board_.run(stop_board_); });
}

StationRig::~StationRig() {
  station->stop();
  window.set_station(nullptr);
  station.reset();
  stop_board_ = true;
  board_thread_.join();
}

bool StationRig::tick_until(const std::function<bool()>& done, int limit) {
  for (int i = 0; i < limit; ++i) {
    if (done()) return true;
    station->tick();
  }
  return done();
}

std::string StationRig::log_text() const { return window.log_view()->bytes(); }

std::string StationRig::digits() const {
  MacDigits::Digits d = station->mac_digits();
  return std::string(d.data(), d.size());
}

std::filesystem::path StationRig::settings_path() const {
  return std::filesystem::path(dir.path().toStdString()) / "settings.reg";
}

}  // namespace skav::gui::test
