#include "line/totals.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

namespace skav::line {

void Counts::add(station::Verdict overall, Attempt attempt) {
  const bool passed_now = overall == station::Verdict::kPass;
  ++boards;
  if (passed_now) {
    ++passed;
  } else {
    ++failed;
  }
  if (attempt == Attempt::kFirst) {
    ++first_attempts;
    if (passed_now) ++passed_first;
  }
}

std::optional<double> Counts::first_pass_yield() const {
  if (boards == 0) return std::nullopt;
  return static_cast<double>(passed_first) / static_cast<double>(boards);
}

std::string date_of(const std::string& time) {
  if (time.size() < 10 || time[4] != '-' || time[7] != '-') return {};
  for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
    if (!std::isdigit(static_cast<unsigned char>(time[i]))) return {};
  return time.substr(0, 10);
}

Counts read_day(const std::filesystem::path& records_file, const std::string& date) {
  Counts counts;
  std::ifstream in(records_file, std::ios::binary);
  if (!in) return counts;
  std::ostringstream text;
  text << in.rdbuf();
  std::vector<std::vector<std::string>> rows = station::parse_csv(text.str());
  if (rows.empty()) return counts;
  // The columns by the header's names, so that a file with more columns still counts.
  const std::vector<std::string>& header = rows.front();
  std::size_t time = header.size(), verdict = header.size();
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (header[i] == "time") time = i;
    if (header[i] == "verdict") verdict = i;
  }
  if (time == header.size() || verdict == header.size()) return counts;
  // A file begun before the station's later columns existed goes on with rows that have them.
  const bool older_header = header.size() < station::kRecordColumnCount;
  const std::string pass = station::verdict_name(station::Verdict::kPass);
  for (std::size_t row = 1; row < rows.size(); ++row) {
    const std::vector<std::string>& fields = rows[row];
    const bool fits = fields.size() == header.size() ||
                      (older_header && fields.size() > header.size() &&
                       fields.size() <= station::kRecordColumnCount);
    if (!fits || date_of(fields[time]) != date) continue;
    // A record on file says nothing of re-tests: every board counts as a first attempt.
    counts.add(fields[verdict] == pass ? station::Verdict::kPass : station::Verdict::kFail,
               Attempt::kFirst);
  }
  return counts;
}

void add_board(Totals& totals, const station::BoardRecord& record, Attempt attempt) {
  std::string date = date_of(record.time);
  if (!date.empty() && date != totals.date) {
    // Past midnight: a new day's count.
    totals.date = date;
    totals.today = Counts{};
  }
  totals.shift.add(record.overall, attempt);
  totals.today.add(record.overall, attempt);
}

}  // namespace skav::line
