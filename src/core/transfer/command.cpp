#include "core/transfer/command.h"

#include <strings.h>

namespace skav::transfer {

namespace {
void put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
}  // namespace

std::array<std::uint8_t, kHeaderSize> encode_header(const CommandHeader& header) {
  std::array<std::uint8_t, kHeaderSize> bytes{};
  bytes[1] = header.memory_type;
  bytes[2] = static_cast<std::uint8_t>(header.command);
  bytes[3] = static_cast<std::uint8_t>(header.command >> 8);
  put32(&bytes[4], header.source);
  put32(&bytes[8], header.destination);
  put32(&bytes[12], header.length);
  return bytes;
}

CommandHeader decode_header(const std::uint8_t* bytes) {
  CommandHeader header;
  header.memory_type = bytes[1];
  header.command = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
  header.source = get32(bytes + 4);
  header.destination = get32(bytes + 8);
  header.length = get32(bytes + 12);
  return header;
}

std::uint8_t memory_type_code(const char* keyword) {
  if (strcasecmp(keyword, "nand") == 0) return kNand;
  if (strcasecmp(keyword, "spi") == 0) return kSpi;
  if (strcasecmp(keyword, "lpc") == 0) return kLpc;
  if (strcasecmp(keyword, "mem") == 0) return kMem;
  return kInvalidCode;
}

std::uint8_t command_code(const char* keyword) {
  if (strcasecmp(keyword, "write") == 0) return kWrite;
  if (strcasecmp(keyword, "read") == 0) return kRead;
  if (strcasecmp(keyword, "exe") == 0) return kExe;
  return kInvalidCode;
}

namespace {

// Header, the data phase that `data_phase` runs, and the Status Frame. The channel's progress
// observer sees the data phase only.
template <typename DataPhase>
ExchangeResult exchange(Channel& channel, const CommandHeader& header, DataPhase data_phase) {
  // The header and the Status Frame travel on a copy of the channel without the observer.
  Channel unobserved = channel;
  unobserved.progress = nullptr;
  ExchangeResult result;
  auto bytes = encode_header(header);
  result.outcome = block_send(unobserved, bytes.data(), kHeaderSize);
  if (result.outcome != Outcome::kOk) return result;
  result.outcome = data_phase();
  if (result.outcome == Outcome::kOk) {
    std::uint8_t status[kStatusSize] = {};
    result.outcome = block_receive(unobserved, status, kStatusSize);
    result.success = result.outcome == Outcome::kOk && get32(status) == kSuccessCode;
  }
  return result;
}

}  // namespace

ExchangeResult command_exchange(Channel& channel, const CommandHeader& header, std::uint8_t* data,
                                Direction direction) {
  return exchange(channel, header, [&] {
    return direction == Direction::kSend ? block_send(channel, data, header.length)
                                         : block_receive(channel, data, header.length);
  });
}

ExchangeResult command_exchange_compare(Channel& channel, const CommandHeader& header,
                                        const std::uint8_t* expected, bool& equal) {
  equal = false;
  return exchange(channel, header,
                  [&] { return block_receive_compare(channel, expected, header.length, equal); });
}

}  // namespace skav::transfer
