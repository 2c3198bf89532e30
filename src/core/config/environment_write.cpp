#include <strings.h>

#include <memory>
#include <new>

#include "core/config/environment.h"
#include "core/transfer/command.h"

namespace skav::config {

namespace {

using transfer::Outcome;
using transfer::Verdict;

const SectionRecord* find_uboot_cfg(const SectionTable& table) {
  for (const SectionRecord& record : table)
    if (strcasecmp(record.name, "UBOOT_CFG") == 0) return &record;
  return nullptr;
}

std::uint8_t environment_memory(const char* mem_type) {
  if (strcasecmp(mem_type, "spi") == 0) return transfer::kSpi;
  if (strcasecmp(mem_type, "lpc") == 0) return transfer::kLpc;
  return transfer::kInvalidCode;
}

void log_address_line(Log* log, const MacDigits::Digits& d, const char* verdict) {
  log_sink(log, "MAC Addr : %c%c%c%c%c%c%c%c%c%c%c%c Test...%s\r\n", d[0], d[1], d[2], d[3], d[4],
           d[5], d[6], d[7], d[8], d[9], d[10], d[11], verdict);
}

}  // namespace

EnvironmentResult write_environment_image(Log* log, transfer::Channel& channel,
                                          const SectionTable& table, MacDigits& digits,
                                          settings::SettingsStore& store,
                                          const std::filesystem::path& dir) {
  EnvironmentResult result;
  const SectionRecord* record = find_uboot_cfg(table);
  if (record == nullptr) return result;

  const MacDigits::Digits current = digits.get();
  result.written = current;
  // A mis-scanned or mistyped address must not become a board's address.
  if (!MacDigits::all_hex(current)) {
    log_sink(log, "MAC Addr : %.12s is not 12 hexadecimal digits; environment not written\r\n",
             current.data());
    result.verdict = Verdict::kFail;
    return result;
  }

  auto image = std::unique_ptr<EnvironmentImage>(new (std::nothrow) EnvironmentImage);
  if (!image) {
    log_sink(log, "Out of memory for the environment image\r\n");
    result.verdict = Verdict::kFail;
    return result;
  }
  build_environment_image(log, *record, current, dir, *image);
  // The next address is stored before this board receives its own, so that a station that
  // dies mid-run never hands the same address out twice.
  if (image->has_mac_variable) store.machwid_write(log, image->next_mac);

  std::uint8_t memory = environment_memory(record->mem_type);
  if (memory == transfer::kInvalidCode) return result;

  transfer::CommandHeader header;
  header.memory_type = memory;
  header.command = transfer::kWrite;
  header.source = record->mem_src_addr;
  header.destination = record->mem_dst_addr;
  header.length = image->used_length;
  log_sink(log, "Find the UBOOT CONFIG file.....");
  // Once the image is on its way the board may keep this address whatever the exchange ends
  // in (a lost status, a failed read-back): the next board gets the next address, so no two
  // boards ever share one.
  const MacDigits::Digits after = image->has_mac_variable ? image->next_mac : current;

  // Written, then read back and compared with the image as it arrives.
  transfer::ExchangeResult exchange = transfer::command_exchange(
      channel, header, image->bytes.data(), transfer::Direction::kSend);
  bool equal = false;
  if (exchange.outcome == Outcome::kOk) {
    header.command = transfer::kRead;
    exchange = transfer::command_exchange_compare(channel, header, image->bytes.data(), equal);
  }
  digits.set(after);
  if (exchange.outcome != Outcome::kOk) {
    transfer::log_transfer_failure(log, channel, exchange.outcome);
    result.outcome = exchange.outcome;
    result.verdict = Verdict::kTimeout;
    return result;
  }
  if (!exchange.success) {
    log_sink(log, "Fail\r\n");
    result.verdict = Verdict::kFail;
    return result;
  }
  if (equal) {
    log_sink(log, "Success\r\n");
    log_address_line(log, current, "Pass");
  } else {
    log_sink(log, "Fail\r\n");
    log_address_line(log, current, "Fail");
  }
  result.verdict = equal ? Verdict::kPass : Verdict::kFail;
  return result;
}

}  // namespace skav::config
