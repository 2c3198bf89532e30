// The file settings store over an arbitrary store file: reads of every value, then writes. A
// store that cannot be parsed must fail every call and never be overwritten; one that can must
// keep the values it holds across a rewrite, and the rewritten file must read back in the
// encoding it had.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/log.h"
#include "core/mac_digits.h"
#include "core/settings/file_settings_store.h"
#include "fuzz_support.h"

namespace {

using skav::fuzz::check;
using skav::settings::kBadValue;
using skav::settings::kBarCode;
using skav::settings::kNetIF;
using skav::settings::kNotFound;
using skav::settings::kOk;

constexpr std::string_view kFailure = "Could not create the registry key.\r\n";
constexpr skav::MacDigits::Digits kWritten = {'0', 'A', '1', 'B', '2', 'C',
                                              '3', 'D', '4', 'E', '5', 'F'};
constexpr std::int32_t kUntouched = 0x5A5A5A5A;
constexpr std::int32_t kNetIfWritten = -2;

struct Reads {
  int barcode = 0, netif = 0, machwid = 0;
  std::int32_t barcode_value = kUntouched, netif_value = kUntouched;
  skav::MacDigits::Digits digits{};
};

Reads read_all(skav::settings::FileSettingsStore& store, skav::Log* log) {
  Reads r;
  r.digits.fill('z');
  r.barcode = store.number_read(log, kBarCode, r.barcode_value);
  r.netif = store.number_read(log, kNetIF, r.netif_value);
  r.machwid = store.machwid_read(log, r.digits);
  check(r.barcode == kOk || r.barcode_value == kUntouched, "a failed read leaves the value");
  check(r.netif == kOk || r.netif_value == kUntouched, "a failed read leaves the value");
  check(r.machwid == kOk || r.digits[0] == 'z', "a failed read leaves the digits");
  return r;
}

// A MACHWID that is there but not 12 hexadecimal digits was read: the store itself is sound.
bool is_error(int result) { return result != kOk && result != kNotFound && result != kBadValue; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view content(reinterpret_cast<const char*>(data), size);
  static const std::filesystem::path path = skav::fuzz::scratch_dir() / "store" / "settings.reg";
  std::filesystem::create_directories(path.parent_path());
  skav::fuzz::write_file(path, content);
  skav::settings::FileSettingsStore store(path);

  skav::StringLog log;
  Reads before = read_all(store, &log);
  bool broken = is_error(before.barcode);
  check(is_error(before.netif) == broken && is_error(before.machwid) == broken,
        "every read of one file agrees on whether it can be read");
  check(log.text() == (broken ? std::string(kFailure) + std::string(kFailure) +
                                    std::string(kFailure)
                              : std::string()),
        "only a failing call logs, once each");
  check(skav::fuzz::read_file(path) == content, "reads never rewrite an existing store");

  log.clear();
  int netif_write = store.number_write(&log, kNetIF, kNetIfWritten);
  int machwid_write = store.machwid_write(&log, kWritten);
  if (broken) {
    check(is_error(netif_write) && is_error(machwid_write), "a broken store refuses writes");
    check(skav::fuzz::read_file(path) == content, "a broken store is never overwritten");
    return 0;
  }
  check(netif_write == kOk && machwid_write == kOk, "a readable store takes writes");
  check(log.text().empty(), "successful writes log nothing");

  Reads after = read_all(store, &log);
  check(after.netif == kOk && after.netif_value == kNetIfWritten, "NetIF reads back as written");
  check(after.machwid == kOk && after.digits == kWritten, "MACHWID reads back as written");
  check(after.barcode == before.barcode && after.barcode_value == before.barcode_value,
        "a rewrite keeps the values it did not change");
  check(log.text().empty(), "the rewritten store reads without a failure");
  const std::string rewritten = skav::fuzz::read_file(path);
  for (std::string_view mark : {std::string_view("\xFF\xFE"), std::string_view("\xEF\xBB\xBF")}) {
    check((content.substr(0, mark.size()) == mark) == (rewritten.substr(0, mark.size()) == mark),
          "a rewrite keeps the store's encoding");
  }
  return 0;
}
