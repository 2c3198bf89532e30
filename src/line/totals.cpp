#include "line/totals.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace skav::line {

namespace {

enum class Kind { kPassed, kFailed, kInterrupted };

Kind kind_of(station::Verdict verdict) {
  if (verdict == station::Verdict::kPass) return Kind::kPassed;
  if (verdict == station::Verdict::kAdapterLost || verdict == station::Verdict::kStopped) return Kind::kInterrupted;
  return Kind::kFailed;
}

int& count_of(Counts& counts, Kind kind) {
  switch (kind) {
    case Kind::kPassed: return counts.passed;
    case Kind::kInterrupted: return counts.interrupted;
    case Kind::kFailed: break;
  }
  return counts.failed;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

void Counts::add(station::Verdict overall, int attempt, std::optional<station::Verdict> previous) {
  ++attempts;
  if (previous) {
    --count_of(*this, kind_of(*previous));
  } else {
    ++boards;
  }
  ++count_of(*this, kind_of(overall));
  if (attempt <= 1) {
    ++first_attempts;
    if (overall == station::Verdict::kPass) ++passed_first;
  }
}

std::optional<double> Counts::first_pass_yield() const {
  if (boards == 0) return std::nullopt;
  return static_cast<double>(passed_first) / static_cast<double>(boards);
}

std::optional<double> Counts::final_yield() const {
  if (boards == 0) return std::nullopt;
  return static_cast<double>(passed) / static_cast<double>(boards);
}

void Tally::add(const station::BoardRecord& record) {
  if (record.written_mac.empty()) {
    counts_.add(record.overall, record.attempt);
    return;
  }
  // Only a re-test is a board seen before: a first run is a board of its own, whatever
  // address it got (an operator's entry may repeat one).
  auto [at, added] = last_.try_emplace(upper(record.written_mac), record.overall);
  if (added || record.attempt <= 1) {
    counts_.add(record.overall, record.attempt);
  } else {
    counts_.add(record.overall, record.attempt, at->second);
  }
  at->second = record.overall;
}

std::string date_of(const std::string& time) {
  if (time.size() < 10 || time[4] != '-' || time[7] != '-') return {};
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (!std::isdigit(static_cast<unsigned char>(time[i]))) return {};
  return time.substr(0, 10);
}

Tally read_day(const std::filesystem::path& records_file, const std::string& date) {
  Tally tally;
  std::ifstream in(records_file, std::ios::binary);
  if (!in) return tally;
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<std::vector<std::string>> rows = station::parse_csv(text.str());
  if (rows.empty()) return tally;
  // The columns by the header's names, so that a file with more or fewer columns (one written
  // before attempts were counted) still counts.
  const std::vector<std::string>& header = rows.front();
  auto at = [&header](const char* name) {
    return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  const std::size_t time = at("time"), verdict = at("verdict"), written = at("written_mac"),
                    attempt = at("attempt"), none = header.size();
  if (time == none || verdict == none) return tally;
  // A file begun before the station's later columns existed goes on with rows that have them.
  const bool older_header = header.size() < station::kRecordColumnCount;
  for (std::size_t row = 1; row < rows.size(); ++row) {
    const std::vector<std::string>& fields = rows[row];
    // A line longer than the header is not a record, unless a newer station wrote it after an
    // older header; one without the later columns is taken as far as it goes (time and verdict
    // are among the first).
    const bool longer = fields.size() > header.size();
    if ((longer && !(older_header && fields.size() <= station::kRecordColumnCount)) ||
        time >= fields.size() || verdict >= fields.size() || date_of(fields[time]) != date)
      continue;
    station::BoardRecord record;
    record.time = fields[time];
    // A word this station does not know did not pass.
    record.overall = station::Verdict::kFail;
    for (station::Verdict known : {station::Verdict::kPass, station::Verdict::kAdapterLost, station::Verdict::kStopped})
      if (fields[verdict] == station::verdict_name(known)) record.overall = known;
    if (written < fields.size()) record.written_mac = fields[written];
    const std::size_t attempt_at = attempt == none && longer ? station::kFirstRecordColumns : attempt;
    if (attempt_at < fields.size()) record.attempt = std::max(1, std::atoi(fields[attempt_at].c_str()));
    tally.add(record);
  }
  return tally;
}

void add_board(Totals& totals, Tally& shift, Tally& today, const station::BoardRecord& record) {
  std::string date = date_of(record.time);
  if (!date.empty() && date != totals.date) {
    // Past midnight: a new day's count.
    totals.date = date;
    today = Tally{};
  }
  shift.add(record);
  today.add(record);
  totals.shift = shift.counts();
  totals.today = today.counts();
}

}  // namespace skav::line
