#include "bench/raw_reference.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace skav::bench {

namespace {
constexpr std::uint32_t kChunk = 1408;
constexpr std::uint32_t kWindow = 16;
constexpr std::uint32_t kSignalSize = 64;
}  // namespace

RawEndpoint::~RawEndpoint() {
  if (fd_ >= 0) close(fd_);
}

std::string RawEndpoint::open(const std::string& interface, std::uint16_t receive_type,
                              std::uint16_t send_type) {
  const int ifindex = static_cast<int>(if_nametoindex(interface.c_str()));
  if (ifindex == 0) return "no interface " + interface;
  fd_ = socket(AF_PACKET, SOCK_RAW, htons(receive_type));
  if (fd_ < 0) return std::string("socket(AF_PACKET): ") + std::strerror(errno);
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(receive_type);
  address.sll_ifindex = ifindex;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return std::string("bind: ") + std::strerror(errno);
  // Every wait for the peer is bounded.
  timeval second{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
  std::memset(header_, 0xff, 12);
  header_[12] = static_cast<std::uint8_t>(send_type >> 8);
  header_[13] = static_cast<std::uint8_t>(send_type & 0xff);
  return {};
}

bool RawEndpoint::send_frame(const std::uint8_t* payload, std::uint32_t length) {
  iovec parts[2] = {{header_, sizeof header_}, {const_cast<std::uint8_t*>(payload), length}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  return sendmsg(fd_, &message, 0) == static_cast<ssize_t>(sizeof header_ + length);
}

long RawEndpoint::receive_frame(std::uint8_t* payload, std::uint32_t capacity) {
  std::uint8_t header[14];
  iovec parts[2] = {{header, sizeof header}, {payload, capacity}};
  msghdr message{};
  message.msg_iov = parts;
  message.msg_iovlen = 2;
  for (;;) {
    ssize_t got = recvmsg(fd_, &message, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < static_cast<ssize_t>(sizeof header)) return -1;
    return static_cast<long>(got) - static_cast<long>(sizeof header);
  }
}

bool RawEndpoint::send_block(const std::uint8_t* data, std::uint32_t n) {
  std::uint8_t answer[kSignalSize];
  std::uint32_t frames = 0;
  for (std::uint32_t pos = 0; pos < n;) {
    std::uint32_t chunk = n - pos < kChunk ? n - pos : kChunk;
    if (!send_frame(data + pos, chunk)) return false;
    pos += chunk;
    ++frames;
    if ((frames % kWindow == 0 || pos == n) && receive_frame(answer, kSignalSize) < 0)
      return false;
  }
  return true;
}

bool RawEndpoint::receive_block(std::uint8_t* data, std::uint32_t n) {
  static const std::uint8_t answer[kSignalSize] = {'A', 'C', 'K'};
  std::uint32_t frames = 0;
  for (std::uint32_t pos = 0; pos < n;) {
    std::uint32_t chunk = n - pos < kChunk ? n - pos : kChunk;
    if (receive_frame(data + pos, chunk) < 0) return false;
    pos += chunk;
    ++frames;
    if ((frames % kWindow == 0 || pos == n) && !send_frame(answer, kSignalSize)) return false;
  }
  return true;
}

bool RawEndpoint::send_signal() {
  static const std::uint8_t signal[kSignalSize] = {'G', 'O'};
  return send_frame(signal, kSignalSize);
}

bool RawEndpoint::await_signal() {
  std::uint8_t signal[kSignalSize];
  return receive_frame(signal, kSignalSize) >= 0;
}

}  // namespace skav::bench
