#include "present/totals.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <vector>

#include "core/platform/files.h"
#include "line/totals.h"

namespace skav::present {

namespace {

// The local time now as `format` gives it (strftime).
std::string local_now(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  long offset = 0;
  platform::local_time(now, local, offset);
  char text[16];
  std::strftime(text, sizeof text, format, &local);
  return text;
}

}  // namespace

std::optional<int> Totals::pass_rate() const {
  if (boards == 0) return std::nullopt;
  return static_cast<int>((passed * 100L + boards / 2) / boards);
}

std::optional<int> Totals::first_pass_rate() const {
  if (boards == 0) return std::nullopt;
  return static_cast<int>((passed_first * 100L + boards / 2) / boards);
}

std::optional<double> boards_per_hour(int boards, std::chrono::seconds elapsed) {
  if (elapsed < std::chrono::minutes(1)) return std::nullopt;
  return boards * 3600.0 / static_cast<double>(elapsed.count());
}

std::string totals_line(const Totals& totals) {
  std::string line = std::to_string(totals.boards) + (totals.boards == 1 ? " board: " : " boards: ") +
                     std::to_string(totals.passed) + " passed, " + std::to_string(totals.failed) + " failed";
  if (totals.interrupted > 0) line += ", " + std::to_string(totals.interrupted) + " interrupted";
  if (totals.attempts > totals.boards) line += ", " + std::to_string(totals.attempts) + " runs";
  return line;
}

TotalsText totals_text(const Totals& shift, std::optional<double> per_hour,
                       const std::string& since, const Totals& today) {
  TotalsText text;
  text.shift = since.empty() ? "This shift" : "This shift, since " + since;
  text.counts = std::to_string(shift.boards) + (shift.boards == 1 ? " board   " : " boards   ") +
                std::to_string(shift.passed) + " passed   " + std::to_string(shift.failed) +
                " failed";
  if (shift.interrupted > 0) text.counts += "   " + std::to_string(shift.interrupted) + " interrupted";
  if (shift.attempts > shift.boards) text.counts += "   " + std::to_string(shift.attempts) + " runs";
  std::optional<int> rate = shift.pass_rate();
  text.rate = rate ? std::to_string(*rate) + "% passed" : std::string("no board yet");
  // The first-pass yield where re-tests make it another figure.
  if (rate && shift.attempts > shift.boards)
    text.rate += "   " + std::to_string(*shift.first_pass_rate()) + "% first pass";
  // No rate in the first minute: an em dash stands for it.
  text.rate += per_hour ? "   " + std::to_string(std::lround(*per_hour)) + " per hour"
                        : std::string("   \xE2\x80\x94 per hour");
  text.today = "Today: " + totals_line(today);
  return text;
}

TotalsModel::TotalsModel(TimePoint now, std::string since, std::size_t ports)
    : ports_(std::max<std::size_t>(ports, 1)), start_(now), since_(std::move(since)) {}

void TotalsModel::set_port_count(std::size_t ports) {
  if (ports > ports_.size()) ports_.resize(ports);
}

void TotalsModel::set_records_file(const std::filesystem::path& file, std::string date) {
  today_.emplace(file, std::move(date));
}

void TotalsModel::add(std::size_t port, const station::BoardRecord& record) {
  if (port >= ports_.size()) ports_.resize(port + 1);
  ports_[port].add(record);
  shift_.add(record);
  if (today_) today_->add(record);
}

void TotalsModel::reset_shift(TimePoint now, std::string since) {
  for (line::Tally& tally : ports_) tally = line::Tally{};
  shift_ = line::Tally{};
  start_ = now;
  since_ = std::move(since);
}

Totals TotalsModel::port(std::size_t port) const {
  return port < ports_.size() ? Totals::of(ports_[port].counts()) : Totals{};
}

Totals TotalsModel::shift() const { return Totals::of(shift_.counts()); }

Totals TotalsModel::today() const { return today_ ? today_->totals() : Totals{}; }

TotalsText TotalsModel::text(TimePoint now) const {
  const Totals all = shift();
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
  return totals_text(all, boards_per_hour(all.boards, elapsed), since_, today());
}

void TotalsView::show(const line::Totals& totals, const std::vector<line::Counts>& ports,
                      int shift_resets, TimePoint now) {
  totals_ = totals;
  ports_ = ports;
  if (shift_resets > shift_resets_) {
    shift_resets_ = shift_resets;
    start_ = now;
  }
}

Totals TotalsView::port(std::size_t port) const {
  return port < ports_.size() ? Totals::of(ports_[port]) : Totals{};
}

TotalsText TotalsView::text(TimePoint now) const {
  const Totals all = shift();
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - start_);
  return totals_text(all, boards_per_hour(all.boards, elapsed), clock_of(totals_.shift_since), today());
}

std::string clock_of(const std::string& time) {
  if (line::date_of(time).empty() || time.size() < 16 || time[10] != 'T' || time[13] != ':') return {};
  for (std::size_t i : {11u, 12u, 14u, 15u})
    if (std::isdigit(static_cast<unsigned char>(time[i])) == 0) return {};
  return time.substr(11, 5);
}

std::string clock_text() { return local_now("%H:%M"); }

std::string record_date(const std::string& time) { return line::date_of(time); }

std::string today() { return local_now("%Y-%m-%d"); }

DayTotals::DayTotals(const std::filesystem::path& records_file, std::string date)
    : date_(std::move(date)), tally_(line::read_day(records_file, date_)) {}

void DayTotals::add(const station::BoardRecord& record) {
  std::string date = record_date(record.time);
  if (!date.empty() && date != date_) {
    // Past midnight: a new day's totals.
    date_ = date;
    tally_ = line::Tally{};
  }
  tally_.add(record);
}

}  // namespace skav::present
