#include "station_rig.h"

#include "gui/log_view.h"

namespace skav::gui::test {

StationRig::StationRig(int barcode, const board::BoardOptions& board) {
  skav::test::RigOptions options;
  options.barcode = barcode;
  options.first_address = "";
  options.start_up = false;
  options.log = &window.log();
  options.events = &window.events();
  core_ = std::make_unique<skav::test::StationRig>(std::move(options));
  core_->plug_line(board, 0);
  station = core_->station.get();
  window.set_station(station);
}

StationRig::~StationRig() {
  station->stop();
  window.set_station(nullptr);
}

std::string StationRig::log_text() const { return window.log_view()->bytes(); }

std::string StationRig::digits() const { return MacDigits::text(station->mac_digits()); }

QString StationRig::dir_path(const QString& name) const {
  return QString::fromStdString((core_->dir / name.toStdString()).string());
}

}  // namespace skav::gui::test
