#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/mac_digits.h"
#include "core/platform/files.h"

namespace skav::settings {

// One line of the ledger: when, which address, what happened to it ("reserved" when it was
// taken for a board, then the board's verdict: "pass", "fail", ...), by whom (user@host) and on
// which adapter.
struct LedgerEntry {
  std::string time;
  MacDigits::Digits address{};  // upper-case hexadecimal digits
  std::string event;
  std::string station;
  std::string adapter;
};

inline constexpr std::string_view kLedgerReserved = "reserved";
inline constexpr std::string_view kLedgerPass = "pass";

// A line as the ledger writes it, "\n" included. Spaces in the station become '_' and control
// characters in either name become '?', so that the line splits back into the same fields.
std::string format_ledger_line(const LedgerEntry& entry);
// The entry of a complete line (without its "\n"); none for a comment ('#'), a blank line or a
// line that does not hold every field (a line torn by a crash and completed by a later writer).
std::optional<LedgerEntry> parse_ledger_line(std::string_view line);

// The addresses sent to boards on this PC, kept in one append-only text file shared by every
// account: one line per event, flushed to disk before a board gets the address. Every access
// is made under a machine-wide lock (a lock file beside the ledger), so that stations of
// different users on one PC see each other's reservations. Not thread-safe: its user holds
// its own mutex.
class AddressLedger {
 public:
  // `station` names this station in the lines it writes (user@host); `now` gives the time text
  // of a line.
  AddressLedger(std::filesystem::path file, std::string station, std::function<std::string()> now);
  ~AddressLedger();
  AddressLedger(const AddressLedger&) = delete;
  AddressLedger& operator=(const AddressLedger&) = delete;

  const std::filesystem::path& file() const { return file_; }

  // Takes the machine-wide lock (waiting at most kLockTries x kLockPause for another station's
  // turn) and reads what other stations appended since the last call. Empty when done; else
  // why the ledger cannot be used, for the operator. Each call is followed by unlock().
  std::string lock_and_read();
  void unlock();
  // Whether the ledger can be written: the file is opened for appending (and so created).
  // Empty when it can; else why not. Under the lock.
  std::string check_writable();

  // The last line of `address` read so far; null when the ledger has none. Under the lock.
  const LedgerEntry* last(const MacDigits::Digits& address) const;
  // How many addresses the ledger holds, as read so far.
  std::size_t size() const { return last_.size(); }
  // Appends a line for `address` and syncs it to disk before returning. Empty when stored; else
  // why not. Under the lock.
  std::string append(const MacDigits::Digits& address, std::string_view event,
                     const std::string& adapter);

  static constexpr int kLockTries = 5000;
  static constexpr std::chrono::microseconds kLockPause{1000};

 private:
  std::filesystem::path file_;
  std::filesystem::path lock_file_;
  std::string station_;
  std::function<std::string()> now_;
  std::unique_ptr<platform::FileLock> lock_;
  std::unordered_map<std::uint64_t, LedgerEntry> last_;  // by address, the 48-bit value
  std::uint64_t read_to_ = 0;      // bytes taken in, up to the end of the last complete line
  bool torn_tail_ = false;         // the file ends in a line without its "\n"
};

}  // namespace skav::settings
