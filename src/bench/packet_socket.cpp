#include "bench/packet_socket.h"

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace skav::bench {

namespace {

using Clock = std::chrono::steady_clock;

std::string failure(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

}  // namespace

link::OpenResult PacketSocketDevice::open(const std::string& interface, std::uint16_t first,
                                          std::uint16_t second) {
  const int ifindex = static_cast<int>(if_nametoindex(interface.c_str()));
  if (ifindex == 0) return {nullptr, "no interface " + interface, false};
  int fd = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
  if (fd < 0) return {nullptr, failure("socket(AF_PACKET)"), errno == EPERM};
  auto fail = [fd](std::string text) {
    close(fd);
    return link::OpenResult{nullptr, std::move(text), false};
  };
  // EtherType at bytes 12-13 is one of the two: keep the frame whole, else drop it.
  sock_filter code[] = {
      BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 12),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, first, 1, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, second, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, 0xffff),
      BPF_STMT(BPF_RET | BPF_K, 0),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof code / sizeof code[0]), code};
  if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0)
    return fail(failure("SO_ATTACH_FILTER"));
  int one = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one) != 0)
    return fail(failure("SO_TIMESTAMPNS"));
  setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
  // Room for a few windows, as a capture ring has: the board may be busy while they come.
  int buffer = 4 << 20;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
  // Bound after the filter, so no foreign frame is queued before it.
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_protocol = htons(ETH_P_ALL);
  address.sll_ifindex = ifindex;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return fail(failure("bind"));
  return {std::unique_ptr<link::FrameDevice>(new PacketSocketDevice(fd)), {}, false};
}

PacketSocketDevice::~PacketSocketDevice() { close(fd_); }

int PacketSocketDevice::send(const std::uint8_t* frame, std::size_t length) {
  return ::send(fd_, frame, length, 0) == static_cast<ssize_t>(length) ? 0 : -1;
}

std::size_t PacketSocketDevice::send_frames(const std::uint8_t* header,
                                            const std::uint8_t* const* payloads,
                                            const std::size_t* lengths, std::size_t count) {
  mmsghdr messages[kBatch];
  iovec parts[kBatch][2];
  std::size_t sent = 0;
  for (std::size_t done = 0; done < count;) {
    std::size_t batch = std::min(count - done, kBatch);
    for (std::size_t i = 0; i < batch; ++i) {
      parts[i][0] = {const_cast<std::uint8_t*>(header), link::kEthernetHeader};
      parts[i][1] = {const_cast<std::uint8_t*>(payloads[done + i]),
                     std::min(lengths[done + i], link::kMaxPayload)};
      messages[i] = {};
      messages[i].msg_hdr.msg_iov = parts[i];
      messages[i].msg_hdr.msg_iovlen = 2;
    }
    int result = sendmmsg(fd_, messages, static_cast<unsigned>(batch), 0);
    if (result < 0 && errno == EINTR) continue;
    // A refused frame is skipped; the rest still go.
    done += result > 0 ? static_cast<std::size_t>(result) : 1;
    sent += result > 0 ? static_cast<std::size_t>(result) : 0;
  }
  return sent;
}

int PacketSocketDevice::take(const std::uint8_t** frame) {
  if (next_ == fetched_) {
    for (std::size_t i = 0; i < kBatch; ++i) {
      parts_[i] = {fetched_frames_[i].bytes, sizeof fetched_frames_[i].bytes};
      messages_[i] = {};
      messages_[i].msg_hdr.msg_iov = &parts_[i];
      messages_[i].msg_hdr.msg_iovlen = 1;
      messages_[i].msg_hdr.msg_control = fetched_frames_[i].control;
      messages_[i].msg_hdr.msg_controllen = sizeof fetched_frames_[i].control;
    }
    int got = recvmmsg(fd_, messages_, kBatch, MSG_DONTWAIT, nullptr);
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
    next_ = 0;
    fetched_ = static_cast<std::size_t>(got);
    if (got == 0) return 0;
  }
  msghdr& message = messages_[next_].msg_hdr;
  stamp_.reset();
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
    timespec stamp{};
    std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
    stamp_ = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec)));
  }
  *frame = fetched_frames_[next_].bytes;
  return static_cast<int>(messages_[next_++].msg_len);
}

int PacketSocketDevice::receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    int length = take(frame);
    if (length > 0) return length;
    Clock::time_point now = Clock::now();
    if (length < 0) {
      // A failed socket answers at once: the rest of the time-out is slept, as callers poll.
      std::this_thread::sleep_until(deadline);
      return -1;
    }
    if (now >= deadline) return 0;
    sleep(deadline - now, true);
  }
}

void PacketSocketDevice::wait_readable(std::chrono::nanoseconds length) { sleep(length, true); }

void PacketSocketDevice::wait_frames(std::size_t count, std::chrono::nanoseconds length) {
  sleep(length, count <= 1);
}

std::optional<std::chrono::system_clock::time_point> PacketSocketDevice::last_receive_stamp()
    const {
  return stamp_;
}

// The thread's timer slack (50 us by default) would make every timed wake-up that much late:
// it is set to 1 ns once, for the thread that waits on the socket.
void PacketSocketDevice::sleep(std::chrono::nanoseconds length, bool on_frame) {
  if (length <= std::chrono::nanoseconds::zero()) return;
  thread_local bool slack_set = false;
  if (!slack_set) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    slack_set = true;
  }
  auto left = length.count();
  timespec timeout{static_cast<time_t>(left / 1'000'000'000),
                   static_cast<long>(left % 1'000'000'000)};
  pollfd pfd{fd_, POLLIN, 0};
  ppoll(on_frame ? &pfd : nullptr, on_frame ? 1 : 0, &timeout, nullptr);
}

}  // namespace skav::bench
