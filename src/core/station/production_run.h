#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>

#include "core/link/link.h"
#include "core/log.h"
#include "core/mac_digits.h"
#include "core/settings/settings_store.h"
#include "core/station/records.h"
#include "core/transfer/image_download.h"

namespace skav::station {

// The 18-byte Diagnostic End Marker: "QM7302-DIAG-END\r\n" and a zero byte.
inline constexpr char kDiagEndMarker[18] = "QM7302-DIAG-END\r\n";
inline constexpr std::uint32_t kTextBlockSize = 256;

// What one Production Run works with. The run is the only user of `link` while it lasts.
struct RunContext {
  Log* log = nullptr;
  link::Link& link;
  MacDigits& digits;
  settings::SettingsStore& store;
  std::filesystem::path dir = ".";
  std::chrono::milliseconds timeout = transfer::kDefaultTimeout;
  const std::atomic<bool>* stop = nullptr;
  transfer::SectionProgress* progress = nullptr;
};

// Run Driver: reads config.ini, writes the environment, downloads the sections and the
// diagnostic image, filling the record's verdicts. 1 when a diagnostic image was started and its
// text follows; 0 otherwise (also when a transfer gave up: the record says so).
int run_driver(RunContext& context, transfer::Channel& channel, BoardRecord& record);

// Run Worker: the whole run of one board, then Run Status 2, written exactly once. After a
// started diagnostic image it finds the board again and relays its text blocks until the end
// marker. Every wait is bounded by the context's timeout. Fills `record` (verdicts, MACs,
// seconds) and appends it to `records_file` before Run Status becomes 2.
void run_worker(RunContext& context, std::atomic<int>& run_status, BoardRecord& record,
                const std::filesystem::path& records_file);

}  // namespace skav::station
