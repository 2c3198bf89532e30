#include "present/totals.h"

#include <cctype>
#include <cmath>
#include <vector>

#include "line/totals.h"

namespace skav::present {

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

}  // namespace skav::present
