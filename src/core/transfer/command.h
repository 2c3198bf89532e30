#pragma once

#include <array>
#include <cstdint>

#include "core/transfer/block_transfer.h"

namespace skav::transfer {

inline constexpr std::uint32_t kHeaderSize = 80;
inline constexpr std::uint32_t kStatusSize = 64;
inline constexpr std::uint32_t kSuccessCode = 0x73023751;  // wire bytes 51 37 02 73

enum MemoryType : std::uint8_t { kNand = 1, kSpi = 2, kLpc = 3, kMem = 4, kInvalidCode = 255 };
enum CommandCode : std::uint16_t { kWrite = 0, kRead = 1, kExe = 2 };

// The Command Header that opens every exchange. Encoded little-endian into 80 bytes:
// 0 reserved (0), 1 memory type, 2-3 command, 4-7 source, 8-11 destination, 12-15 length,
// 16-79 reserved (zero).
struct CommandHeader {
  std::uint8_t memory_type = 0;
  std::uint16_t command = 0;
  std::uint32_t source = 0;
  std::uint32_t destination = 0;
  std::uint32_t length = 0;
};

std::array<std::uint8_t, kHeaderSize> encode_header(const CommandHeader& header);
CommandHeader decode_header(const std::uint8_t* bytes);

// Keyword codes, matched on the whole text without regard to letter case; 255 when invalid.
std::uint8_t memory_type_code(const char* keyword);
std::uint8_t command_code(const char* keyword);

enum class Direction { kSend, kReceive };

struct ExchangeResult {
  Outcome outcome = Outcome::kOk;
  bool success = false;  // the Status Frame carried the Success Code
};

// One Command Exchange: Block Send of the header, the data phase of header.length bytes
// (Block Send of `data`, or Block Receive into it), Block Receive of the 64-byte Status Frame.
// The channel's progress observer, if any, sees the data phase only.
ExchangeResult command_exchange(Channel& channel, const CommandHeader& header, std::uint8_t* data,
                                Direction direction);

// A Command Exchange whose data phase is received and compared with `expected` (header.length
// bytes) instead of stored (see block_receive_compare); `equal` tells whether every byte came
// back as expected.
ExchangeResult command_exchange_compare(Channel& channel, const CommandHeader& header,
                                        const std::uint8_t* expected, bool& equal);

}  // namespace skav::transfer
