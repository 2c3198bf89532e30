#include "core/station/steps.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/config/environment.h"
#include "core/link/discovery.h"
#include "core/platform/files.h"
#include "core/platform/utf8.h"
#include "core/station/production_run.h"

namespace skav::station {

namespace {

namespace fs = std::filesystem;
using transfer::Outcome;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The buffers of a step, or null when the memory cannot be had.
std::unique_ptr<std::uint8_t[]> obtain_buffer(std::uint32_t size) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[std::max(size, 1u)]);
}

StepResult transfer_failed(Log* log, const transfer::Channel& channel, Outcome outcome) {
  log_transfer_failure(log, channel, outcome);
  return {outcome, verdict_of(outcome), transfer_failure_reason(channel, outcome)};
}

transfer::CommandHeader header_of(const PlanStep& step) {
  transfer::CommandHeader header;
  header.memory_type = step.memory;
  header.command = step.command;
  header.source = step.record.mem_src_addr;
  header.destination = step.record.mem_dst_addr;
  return header;
}

// A write's verification, or a read section's comparison: the board sends its copy of the
// region back (Command Code 1) and it is compared with `image` as it arrives.
transfer::ExchangeResult read_back(transfer::Channel& channel, transfer::CommandHeader header,
                                   const std::uint8_t* image, bool& equal) {
  header.command = transfer::kRead;
  return transfer::command_exchange_compare(channel, header, image, equal);
}

// The verdict of an exchange that completed: the Status Frame's, and for a read-back also the
// comparison's.
StepResult judged(bool status_ok, bool equal) {
  if (!status_ok) return {Outcome::kOk, Verdict::kFail, "status reports failure"};
  if (!equal) return {Outcome::kOk, Verdict::kFail, "read-back differs"};
  return {Outcome::kOk, Verdict::kPass, {}};
}

// "byte 2048:%x,2049:%x\r\n"; an offset beyond a short image shows "-", nothing is read there.
void log_yimg_bytes(Log* log, const std::uint8_t* image, std::uint32_t size) {
  char first[4] = "-";
  char second[4] = "-";
  if (size > 2048) std::snprintf(first, sizeof first, "%x", image[2048]);
  if (size > 2049) std::snprintf(second, sizeof second, "%x", image[2049]);
  log_sink(log, "byte 2048:%s,2049:%s\r\n", first, second);
}

void log_address_line(Log* log, const MacDigits::Digits& d, const char* verdict) {
  log_sink(log, "MAC Addr : %c%c%c%c%c%c%c%c%c%c%c%c Test...%s\r\n", d[0], d[1], d[2], d[3], d[4],
           d[5], d[6], d[7], d[8], d[9], d[10], d[11], verdict);
}

// Asks the pool with `ask` until it answers. While the pool cannot be reached the step waits
// (saying so once) and tries again, until it answers or the station is stopped: a board is
// never programmed without a reserved address.
// `refusal_is_news`: a refusal is told to the observer (a claim's refusal is not: the board then
// gets the next address).
template <typename Ask>
settings::PoolResult<settings::Reservation> ask_pool(Log* log, transfer::Channel& channel,
                                                     AddressSource& source, bool refusal_is_news, Ask ask) {
  bool waiting = false;
  for (;;) {
    settings::PoolResult<settings::Reservation> result = ask();
    if (result.code != settings::PoolCode::kUnavailable) {
      // kUnset is an answer too: the pool knows no re-test of the board.
      if (waiting && (result.ok() || result.code == settings::PoolCode::kUnset))
        log_sink(log, "MAC address pool available again\r\n");
      if (source.observer != nullptr && (waiting || (!result.ok() && refusal_is_news)))
        source.observer->on_pool_answer(result.code, result.message);
      return result;
    }
    if (!waiting) {
      log_sink(log, "MAC address pool unavailable, waiting: %s\r\n", result.message.c_str());
      if (source.observer != nullptr) source.observer->on_pool_answer(result.code, result.message);
      waiting = true;
    }
    if (channel.stopping()) return result;
    channel.link.clock().sleep_for(source.retry);
    if (channel.stopping()) return result;
  }
}

// Takes the board's address from the pool: a re-test's own address when the pool grants the
// claim, else the pool's next (or the operator's entry).
settings::PoolResult<settings::Reservation> reserve_address(Log* log, transfer::Channel& channel,
                                                            AddressSource& source) {
  if (source.board) {
    const MacDigits::Digits board = *source.board;
    // An entered address leaves the next one shown as an entry that was not a re-test would.
    const MacDigits::Digits next = source.exact ? MacDigits::next(board) : source.digits;
    settings::PoolResult<settings::Reservation> claimed = ask_pool(log, channel, source, source.exact, [&] {
      return source.pool.claim_retest(log, board, source.history, next, source.port);
    });
    if (claimed.ok()) {
      log_sink(log, "MAC Addr : %s re-test, attempt %d\r\n", MacDigits::text(board).c_str(),
               claimed.value.attempt);
      return claimed;
    }
    if (claimed.code == settings::PoolCode::kUnavailable) return claimed;
    // The operator's entry is refused for what refuses its claim (a pass holds the address, or
    // another run of it is open): given as a new address it would be the same board twice.
    if (source.exact && claimed.code == settings::PoolCode::kRefused) return claimed;
    // Not a re-test the pool agrees to: the board is a new one to the line.
    if (claimed.code == settings::PoolCode::kRefused)
      log_sink(log, "MAC Addr : %s not re-tested: %s\r\n", MacDigits::text(board).c_str(),
               claimed.message.c_str());
  }
  return ask_pool(log, channel, source, true, [&] {
    return source.pool.reserve(log, source.digits, source.exact, source.port);
  });
}

}  // namespace

Status load_image(const fs::path& file_path, std::uint8_t* buffer, std::uint32_t capacity,
                  std::uint32_t& size) {
  size = 0;
  File file(platform::open_file(file_path, "rb"));
  if (!file) {
    int error = errno;
    return Status::error(error, platform::utf8_of(file_path) + ": " + std::strerror(error));
  }
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode))
    return Status::error(EINVAL, platform::utf8_of(file_path) + ": not a regular file");
  if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > capacity)
    return Status::error(EFBIG, platform::utf8_of(file_path) + ": larger than " + std::to_string(capacity) + " bytes");
  auto length = static_cast<std::size_t>(info.st_size);
  if (length > 0 && std::fread(buffer, 1, length, file.get()) != length)
    return Status::error(EIO, platform::utf8_of(file_path) + ": could not be read whole");
  size = static_cast<std::uint32_t>(length);
  return {};
}

bool ImageBuffer::obtain(std::uint32_t capacity) {
  if (data_ == nullptr || allocated_ < capacity) {
    data_.reset();  // the old memory goes before the new is asked for
    data_ = obtain_buffer(capacity);
    allocated_ = data_ ? capacity : 0;
  }
  capacity_ = data_ ? capacity : 0;
  return data_ != nullptr;
}

EnvironmentResult environment_step(Log* log, transfer::Channel& channel, const PlanStep& step,
                                   const fs::path& dir, AddressSource& address) {
  EnvironmentResult result;
  if (!step.used) return result;

  MacDigits::Digits digits = address.digits;
  // A mis-scanned or mistyped address must not become a board's address.
  if (!MacDigits::all_hex(digits)) {
    log_sink(log, "MAC Addr : %.12s is not 12 hexadecimal digits; environment not written\r\n",
             digits.data());
    result.verdict = Verdict::kFail;
    result.reason = "MAC address " + MacDigits::text(digits) + " is not 12 hexadecimal digits";
    return result;
  }

  auto image = std::unique_ptr<config::EnvironmentImage>(new (std::nothrow) config::EnvironmentImage);
  if (!image) {
    log_sink(log, "Out of memory for the environment image\r\n");
    result.verdict = Verdict::kFail;
    result.reason = "out of memory";
    return result;
  }
  config::build_environment_image(log, step.record, digits, dir, *image);
  result.built = true;
  result.written = digits;
  // The station's rule: every board that gets an ethaddr gets its own address, whether or not
  // the description file also names it in a MAC variable. The address is taken, and the one
  // after it stored, before any byte of it leaves: a station that dies mid-run never hands the
  // same address out twice.
  settings::PoolResult<settings::Reservation> reserved = reserve_address(log, channel, address);
  const settings::Reservation& reservation = reserved.value;
  if (!reserved.ok()) {
    // No address was taken: the record names none.
    result.built = false;
    if (reserved.code == settings::PoolCode::kUnavailable) {
      result.outcome = Outcome::kStopped;
      result.verdict = Verdict::kStopped;
      result.reason = "stopped while waiting for a MAC address";
      return result;
    }
    log_sink(log, "No MAC address for this board: %s\r\n", reserved.message.c_str());
    result.verdict = Verdict::kFail;
    result.reason = reserved.message;
    result.no_address = true;
    return result;
  }
  if (reservation.address != digits) {
    // The pool gave another address than the station showed (another port took that one).
    digits = reservation.address;
    config::build_environment_image(nullptr, step.record, digits, dir, *image);
    result.written = digits;
  }
  const MacDigits::Digits next = reservation.next;
  result.reservation = reservation;

  transfer::CommandHeader header = header_of(step);
  header.length = image->used_length;
  log_sink(log, "Find the UBOOT CONFIG file.....");
  // Once the image is on its way the board may keep this address whatever the exchange ends
  // in (a lost status, a failed read-back): the next board gets the next address, so no two
  // boards ever share one.
  result.sent = true;
  result.next = next;

  transfer::ExchangeResult exchange =
      transfer::command_exchange(channel, header, image->bytes.data(), transfer::Direction::kSend);
  bool equal = false;
  if (exchange.outcome == Outcome::kOk) exchange = read_back(channel, header, image->bytes.data(), equal);
  if (exchange.outcome != Outcome::kOk) {
    StepResult failed = transfer_failed(log, channel, exchange.outcome);
    static_cast<StepResult&>(result) = failed;
    return result;
  }
  if (!exchange.success) {
    log_sink(log, "Fail\r\n");
  } else {
    log_sink(log, "%s", equal ? "Success\r\n" : "Fail\r\n");
    log_address_line(log, digits, equal ? "Pass" : "Fail");
  }
  StepResult verdict = judged(exchange.success, equal);
  result.verdict = verdict.verdict;
  result.reason = verdict.reason;
  return result;
}

StepResult image_step(Log* log, transfer::Channel& channel, const PlanStep& step,
                      ImageBuffer& buffer) {
  if (!step.used) return {};
  std::uint32_t size = 0;
  if (buffer.data() == nullptr || !load_image(step.file, buffer.data(), buffer.capacity(), size).ok()) {
    log_sink(log, "The file [%s] was not opened\r\n", step.record.filename);
    return {Outcome::kOk, Verdict::kFail, std::string("file ") + step.record.filename + " not opened"};
  }
  transfer::CommandHeader header = header_of(step);
  header.length = size;
  log_sink(log, "Section begin: [%s]\r\n", step.record.name);
  if (std::strcmp(step.record.filename, "yimg.bin") == 0) log_yimg_bytes(log, buffer.data(), size);

  transfer::ExchangeResult exchange;
  bool equal = true;
  if (header.command == transfer::kRead) {
    // Verify only: the board sends its copy of the region; nothing is written.
    exchange = read_back(channel, header, buffer.data(), equal);
  } else {
    exchange = transfer::command_exchange(channel, header, buffer.data(), transfer::Direction::kSend);
    if (exchange.outcome == Outcome::kOk && header.command == transfer::kWrite) {
      // The write's own status is not examined: the read-back alone decides.
      exchange = read_back(channel, header, buffer.data(), equal);
    }
  }
  if (exchange.outcome != Outcome::kOk) return transfer_failed(log, channel, exchange.outcome);
  // An exe section shows nothing in the log; its record follows the Status Frame.
  if (header.command != transfer::kExe)
    log_sink(log, "%s", exchange.success && equal ? "Success\r\n" : "Fail\r\n");
  return judged(exchange.success, equal);
}

DiagResult diag_step(Log* log, transfer::Channel& channel, const PlanStep& step) {
  DiagResult result;
  if (!step.used) return result;
  log_sink(log, "Find the diag..................");
  transfer::CommandHeader header = header_of(step);

  std::uint32_t capacity = step.file_problem.empty() ? static_cast<std::uint32_t>(step.size) : 0;
  std::unique_ptr<std::uint8_t[]> image = obtain_buffer(capacity);
  if (!image) {
    log_sink(log, "Not enough memory for the diag image buffer (%u bytes)\r\n", capacity);
    result.verdict = Verdict::kFail;
    result.reason = "out of memory";
    return result;
  }
  std::uint32_t size = 0;
  bool loaded = load_image(step.file, image.get(), capacity, size).ok();
  if (!loaded) log_sink(log, "The file [%s] was not opened\r\n", step.record.filename);
  // The exchange takes place all the same, with what was loaded (0 bytes after a failure).
  header.length = size;

  transfer::ExchangeResult exchange =
      transfer::command_exchange(channel, header, image.get(), transfer::Direction::kSend);
  if (exchange.outcome != Outcome::kOk) {
    static_cast<StepResult&>(result) = transfer_failed(log, channel, exchange.outcome);
    return result;
  }
  log_sink(log, "%s", exchange.success ? "Success\r\n" : "Fail\r\n");
  result.started = true;
  if (!loaded) {
    // The board was started without its image: it did not receive what the line expects.
    result.verdict = Verdict::kFail;
    result.reason = std::string("file ") + step.record.filename + " not opened";
    return result;
  }
  StepResult verdict = judged(exchange.success, true);
  result.verdict = verdict.verdict;
  result.reason = verdict.reason;
  return result;
}

namespace {

// After the diagnostic image was started the board reboots into it; probe until it answers,
// but no longer than the channel's timeout. The image may answer from another MAC address (the
// one just written into its environment), so whoever answers is taken.
Outcome find_target_again(transfer::Channel& channel) {
  Clock& clock = channel.link.clock();
  const Clock::time_point start = clock.now();
  for (;;) {
    if (link::find_target(channel.link) == 1) return Outcome::kOk;
    if (channel.link.adapter_lost()) return Outcome::kAdapterLost;
    if (channel.stopping()) return Outcome::kStopped;
    if (clock.now() - start >= channel.timeout) return Outcome::kTimeout;
  }
}

}  // namespace

Outcome relay_diagnostic_text(Log* log, transfer::Channel& channel) {
  Outcome outcome = find_target_again(channel);
  // The block is reused: a short payload overwrites only its start, so its text ends at a zero
  // byte inside the payload.
  char block[kTextBlockSize + 1] = {};
  while (outcome == Outcome::kOk) {
    outcome = transfer::block_receive(channel, reinterpret_cast<std::uint8_t*>(block), kTextBlockSize);
    if (outcome != Outcome::kOk) break;
    if (std::memcmp(block, kDiagEndMarker, sizeof kDiagEndMarker) == 0) return Outcome::kOk;
    log_sink(log, "%.256s", block);
  }
  return outcome;
}

}  // namespace skav::station
