#include "core/settings/address_ledger.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/hex.h"
#include "core/platform/utf8.h"

namespace skav::settings {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader =
    "# SKAV address ledger: the MAC addresses sent to boards on this PC, by every account.\n"
    "# time, address, event (reserved; then the board's verdict), user@host, adapter\n";

std::uint64_t value_of(const MacDigits::Digits& digits) {
  std::uint64_t value = 0;
  for (char c : digits) value = (value << 4) | static_cast<std::uint64_t>(hex_value(c) & 0xF);
  return value;
}

MacDigits::Digits upper(MacDigits::Digits digits) {
  for (char& c : digits) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return digits;
}

// A name as one field of a line: no separator inside, nothing that breaks the line.
std::string field(std::string_view text, bool spaces_allowed) {
  std::string out(text.empty() ? std::string_view("-") : text);
  for (char& c : out) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
    else if (c == ' ' && !spaces_allowed) c = '_';
  }
  return out;
}

std::string_view next_field(std::string_view& rest) {
  std::size_t end = rest.find(' ');
  std::string_view word = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return word;
}

std::string describe(const fs::path& file, const char* what, int error) {
  return "the address ledger " + platform::utf8_of(file) + " " + what + ": " + std::strerror(error);
}

}  // namespace

std::string format_ledger_line(const LedgerEntry& entry) {
  return field(entry.time, false) + ' ' + MacDigits::text(upper(entry.address)) + ' ' +
         field(entry.event, false) + ' ' + field(entry.station, false) + ' ' +
         field(entry.adapter, true) + '\n';
}

std::optional<LedgerEntry> parse_ledger_line(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return std::nullopt;
  LedgerEntry entry;
  std::string_view rest = line;
  entry.time = next_field(rest);
  std::string_view address = next_field(rest);
  entry.event = next_field(rest);
  entry.station = next_field(rest);
  entry.adapter = rest;
  if (entry.time.empty() || entry.event.empty() || entry.station.empty() || entry.adapter.empty() ||
      !MacDigits::parse(address, entry.address))
    return std::nullopt;
  for (char c : entry.event)
    if (!std::islower(static_cast<unsigned char>(c)) && c != '-') return std::nullopt;
  entry.address = upper(entry.address);
  return entry;
}

AddressLedger::AddressLedger(fs::path file, std::string station, std::function<std::string()> now)
    : file_(std::move(file)), station_(std::move(station)), now_(std::move(now)) {
  lock_file_ = file_;
  lock_file_ += ".lock";
}

AddressLedger::~AddressLedger() = default;

std::string AddressLedger::lock_and_read() {
  std::string holder;
  int error = EWOULDBLOCK;
  for (int tries = 0; tries < kLockTries; ++tries) {
    error = platform::FileLock::try_lock(lock_file_, lock_, &holder);
    if (error != EWOULDBLOCK) break;
    std::this_thread::sleep_for(kLockPause);
  }
  if (error == EWOULDBLOCK) {
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r')) holder.pop_back();
    return "the address ledger " + platform::utf8_of(file_) + " is locked by " +
           (holder.empty() ? std::string("another station") : holder);
  }
  if (error != 0) return describe(lock_file_, "cannot be locked", error);
  lock_->write_record(station_ + " (process " + std::to_string(platform::process_id()) + ")\n");
  // The first station to make the lock file owns it; the others of the group must open it too.
  platform::share_with_group(lock_file_);

  std::FILE* in = platform::open_file(file_, "rb");
  if (in == nullptr) {
    error = errno;
    if (error != ENOENT) {
      unlock();
      return describe(file_, "cannot be read", error);
    }
    // No ledger yet: nothing was sent, or it was removed, and then what it held is gone too.
    last_.clear();
    read_to_ = 0;
    torn_tail_ = false;
    return {};
  }
  // Other stations only append; a shorter file was replaced, and is read from its start.
  if (std::fseek(in, 0, SEEK_END) == 0) {
    long size = std::ftell(in);
    if (size >= 0 && static_cast<std::uint64_t>(size) < read_to_) {
      last_.clear();
      read_to_ = 0;
    }
  }
  std::string text;
  if (std::fseek(in, static_cast<long>(read_to_), SEEK_SET) == 0) {
    char buffer[8192];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
  }
  error = std::ferror(in) ? EIO : 0;
  std::fclose(in);
  if (error != 0) {
    unlock();
    return describe(file_, "cannot be read", error);
  }
  // Only complete lines count: a last line without its "\n" was torn by a crash mid-write.
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    if (std::optional<LedgerEntry> entry = parse_ledger_line(std::string_view(text).substr(start, end - start)))
      last_[value_of(entry->address)] = std::move(*entry);
    start = end + 1;
  }
  read_to_ += start;
  torn_tail_ = start < text.size();
  return {};
}

void AddressLedger::unlock() { lock_.reset(); }

std::string AddressLedger::check_writable() {
  std::FILE* out = platform::open_file(file_, "ab");
  if (out == nullptr) return describe(file_, "cannot be written", errno);
  std::fclose(out);
  platform::share_with_group(file_);
  return {};
}

const LedgerEntry* AddressLedger::last(const MacDigits::Digits& address) const {
  auto found = last_.find(value_of(address));
  return found == last_.end() ? nullptr : &found->second;
}

std::string AddressLedger::append(const MacDigits::Digits& address, std::string_view event,
                                  const std::string& adapter) {
  LedgerEntry entry{now_(), upper(address), std::string(event), station_, adapter};
  std::string line = format_ledger_line(entry);
  // A torn line is ended first, so that it cannot swallow this one.
  if (torn_tail_) line.insert(line.begin(), '\n');
  if (int error = platform::append_synced(file_, kHeader, line); error != 0) {
    torn_tail_ = true;  // a part of the line may have gone out; an empty line costs nothing
    return describe(file_, "cannot be written", error);
  }
  platform::share_with_group(file_);
  torn_tail_ = false;
  // The line is taken in again by the next read; until then it stands as read back.
  std::string_view written = line;
  written = written.substr(written.front() == '\n' ? 1 : 0);
  written.remove_suffix(1);
  if (std::optional<LedgerEntry> read_back = parse_ledger_line(written))
    last_[value_of(entry.address)] = std::move(*read_back);
  return {};
}

}  // namespace skav::settings
