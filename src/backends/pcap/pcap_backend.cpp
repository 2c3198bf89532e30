#include "backends/pcap/pcap_backend.h"

#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ctime>
#include <string>
#include <thread>

namespace skav::pcap {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSnapLength = static_cast<int>(link::kMaxFrame);

class PcapDevice : public link::FrameDevice {
 public:
  PcapDevice(pcap_t* handle, int fd, std::string name,
             std::shared_ptr<std::atomic<std::uint64_t>> wake_ups)
      : handle_(handle),
        fd_(fd),
        name_(std::move(name)),
        index_(if_nametoindex(name_.c_str())),
        wake_ups_(std::move(wake_ups)) {}
  ~PcapDevice() override { pcap_close(handle_); }
  PcapDevice(const PcapDevice&) = delete;
  PcapDevice& operator=(const PcapDevice&) = delete;

  int send(const std::uint8_t* frame, std::size_t length) override {
    return pcap_sendpacket(handle_, frame, static_cast<int>(length)) == 0 ? 0 : -1;
  }

  // A whole window in one system call: sendmmsg on the capture socket (what pcap_sendpacket
  // sends on), each frame gathered from the header and its payload without a copy. A refused
  // frame is skipped and the rest still go.
  std::size_t send_frames(const std::uint8_t* header, const std::uint8_t* const* payloads,
                          const std::size_t* lengths, std::size_t count) override {
    constexpr std::size_t kBatch = 64;
    mmsghdr messages[kBatch];
    iovec parts[kBatch][2];
    std::size_t done = 0;  // frames handled, sent or refused
    std::size_t sent = 0;
    while (done < count) {
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
      if (result <= 0) {
        ++done;  // the first frame was refused: skip it, as one send at a time would
        continue;
      }
      done += static_cast<std::size_t>(result);
      sent += static_cast<std::size_t>(result);
    }
    return sent;
  }

  // Right after a frame, looks in the capture ring first: frames come in bursts, and one that
  // is already there costs no system call. Otherwise waits on the selectable descriptor, then
  // takes the frame from the ring; the descriptor is readable exactly when the ring holds a
  // frame. (Looking first every time would cost an idle link two calls a wait: pcap_next_ex
  // on an empty non-blocking ring makes a poll of its own before answering 0.) pcap_next_ex's
  // own time-out is not relied on: on an idle Linux link it may keep waiting inside the call.
  // A failed handle (interface down or gone) answers at once on every call, so the rest of the
  // time-out is slept to keep callers' polling loops from spinning.
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    if (burst_) {
      if (int length = take(frame); length > 0) return length;
      burst_ = false;
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
      Clock::time_point now = Clock::now();
      auto left = now < deadline ? std::chrono::ceil<std::chrono::milliseconds>(deadline - now)
                                 : std::chrono::milliseconds(0);
      pollfd pfd{fd_, POLLIN, 0};
      int ready = poll(&pfd, 1, static_cast<int>(left.count()));
      if (left.count() > 0) count_wake_up();
      if (ready < 0) {
        if (errno == EINTR) continue;
        return failed_until(deadline);
      }
      if (ready == 0) {
        if (Clock::now() >= deadline) return 0;
        continue;
      }
      if ((pfd.revents & POLLIN) == 0) return failed_until(deadline);
      int result = take(frame);
      if (result > 0) return result;
      if (result < 0) return failed_until(deadline);
      // Readable yet nothing taken: should not happen; a short pause keeps it from spinning.
      if (Clock::now() >= deadline) return 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // ppoll for its microsecond time-out. A ring that already holds a frame, an interrupted
  // sleep and a failed handle all return at once; the receive that follows deals with them.
  void wait_readable(std::chrono::nanoseconds length) override { sleep(length, true); }

  // The descriptor tells only whether a frame is waiting, so for more than one this is a timer:
  // frames arriving meanwhile do not wake the thread. Either way the next receive looks in the
  // ring first, where the frames that came are.
  void wait_frames(std::size_t count, std::chrono::nanoseconds length) override {
    sleep(length, count <= 1);
    burst_ = true;
  }

  std::optional<std::chrono::system_clock::time_point> last_receive_stamp() const override {
    return stamp_;
  }

  // A capture socket on a deleted interface need not fail: it may just hear nothing from then
  // on. The interface's index tells: none when it is gone, another when one of the same name
  // was made since, to which this socket is not bound.
  bool still_present() const override {
    return index_ == 0 || if_nametoindex(name_.c_str()) == index_;
  }

 private:
  // The next frame from the ring: its length, 0 none waiting, -1 the handle failed.
  int take(const std::uint8_t** frame) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int result = pcap_next_ex(handle_, &header, &data);
    if (result < 0) return -1;
    if (result == 0) return 0;
    *frame = data;
    stamp_ = std::chrono::system_clock::time_point(
        std::chrono::seconds(header->ts.tv_sec) + std::chrono::microseconds(header->ts.tv_usec));
    burst_ = true;
    return static_cast<int>(header->caplen);
  }

  // ppoll until `length` has passed, or (`on_frame`) until a frame is waiting. The thread's
  // timer slack (50 us by default) would make every timed wake-up that much late: it is set
  // to 1 ns once, for the thread that waits on the link.
  void sleep(std::chrono::nanoseconds length, bool on_frame) {
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
    count_wake_up();
  }

  void count_wake_up() { wake_ups_->fetch_add(1, std::memory_order_relaxed); }

  static int failed_until(Clock::time_point deadline) {
    std::this_thread::sleep_until(deadline);
    return -1;
  }

  pcap_t* handle_;
  int fd_;
  std::string name_;
  unsigned index_;  // the interface's index when opened; 0 when it could not be had
  bool burst_ = false;  // the last receive took a frame, or a wait for frames ended
  std::chrono::system_clock::time_point stamp_{};
  std::shared_ptr<std::atomic<std::uint64_t>> wake_ups_;
};

bool is_permission_status(int status) {
  return status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED;
}

// pcap_findalldevs gives only a text; libpcap builds it from strerror().
bool mentions_permission(const char* text) {
  return std::strstr(text, std::strerror(EPERM)) != nullptr ||
         std::strstr(text, std::strerror(EACCES)) != nullptr;
}

// Opens the adapter for the frames of two EtherTypes; the kernel drops all others.
link::OpenResult open_filtered(const std::string& name, std::uint16_t first, std::uint16_t second,
                               std::shared_ptr<std::atomic<std::uint64_t>> wake_ups) {
  char filter[64];
  std::snprintf(filter, sizeof filter, "ether proto 0x%04x or ether proto 0x%04x", first, second);
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_create(name.c_str(), error);
  if (handle == nullptr) return {nullptr, error, mentions_permission(error)};
  auto fail = [&](std::string text, bool permission_denied) {
    pcap_close(handle);
    return link::OpenResult{nullptr, std::move(text), permission_denied};
  };
  pcap_set_snaplen(handle, kSnapLength);
  pcap_set_promisc(handle, 1);
  pcap_set_timeout(handle, static_cast<int>(link::kReadTimeout.count()));
  pcap_set_immediate_mode(handle, 1);
  int status = pcap_activate(handle);
  if (status < 0) {
    // Some failures (no such device, interface down) leave libpcap's own text empty.
    const char* text = pcap_geterr(handle);
    return fail(text != nullptr && text[0] != '\0' ? text : pcap_statustostr(status),
                is_permission_status(status));
  }
  // Only Ethernet framing carries the EtherType at bytes 12-13; pseudo-devices such as "any"
  // deliver other headers.
  if (int type = pcap_datalink(handle); type != DLT_EN10MB) {
    const char* type_name = pcap_datalink_val_to_name(type);
    return fail("not an Ethernet adapter (link type " +
                    std::string(type_name != nullptr ? type_name : std::to_string(type)) + ")",
                false);
  }
  bpf_program program{};
  if (pcap_compile(handle, &program, filter, 1, PCAP_NETMASK_UNKNOWN) != 0)
    return fail(std::string("pcap_compile: ") + pcap_geterr(handle), false);
  int filtered = pcap_setfilter(handle, &program);
  pcap_freecode(&program);
  if (filtered != 0) return fail(std::string("pcap_setfilter: ") + pcap_geterr(handle), false);
  if (pcap_setnonblock(handle, 1, error) != 0)
    return fail(std::string("pcap_setnonblock: ") + error, false);
  int fd = pcap_get_selectable_fd(handle);
  if (fd < 0) return fail("the adapter has no selectable descriptor", false);
  // The frames this side sends never pass its own filter, yet the kernel would hand each to the
  // socket (a clone and a filter run per frame) unless told to leave outgoing frames alone.
  // An older kernel refuses the option; the filter still drops them there.
  int one = 1;
  setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
  return {std::make_unique<PcapDevice>(handle, fd, name, std::move(wake_ups)), {}, false};
}

}  // namespace

link::AdapterListing PcapBackend::list_adapters() {
  link::AdapterListing listing;
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* devices = nullptr;
  if (pcap_findalldevs(&devices, error) == -1) {
    listing.ok = false;
    listing.error = error;
    listing.permission_denied = mentions_permission(error);
    return listing;
  }
  for (pcap_if_t* d = devices; d != nullptr; d = d->next) {
    listing.adapters.push_back(
        {d->name, d->description != nullptr ? d->description : "", friendly_name(d->name)});
  }
  pcap_freealldevs(devices);
  return listing;
}

std::string friendly_name(const std::string& name) {
  // The alias an administrator gave (ip link set NAME alias TEXT) is the name people use.
  if (name.find('/') == std::string::npos && name != "." && name != "..") {
    std::ifstream in("/sys/class/net/" + name + "/ifalias");
    std::string alias;
    if (in && std::getline(in, alias) && !alias.empty()) return alias;
  }
  return name;
}

std::optional<link::Mac> PcapBackend::adapter_mac(const std::string& name) {
  if (name.size() >= IFNAMSIZ) return std::nullopt;
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return std::nullopt;
  ifreq request{};
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  int result = ioctl(fd, SIOCGIFHWADDR, &request);
  close(fd);
  // Only an Ethernet adapter has a 6-byte address that can be a frame's source.
  if (result != 0 || request.ifr_hwaddr.sa_family != ARPHRD_ETHER) return std::nullopt;
  link::Mac mac;
  std::memcpy(mac.data(), request.ifr_hwaddr.sa_data, 6);
  return mac;
}

link::OpenResult PcapBackend::open(const std::string& name) {
  return open_filtered(name, link::kEtherReply, link::kEtherTargetData, wake_ups_);
}

link::OpenResult PcapBackend::open_for_board(const std::string& name) {
  return open_filtered(name, link::kEtherProbe, link::kEtherHostData, wake_ups_);
}

std::uint64_t PcapBackend::wake_ups() const { return wake_ups_->load(std::memory_order_relaxed); }

}  // namespace skav::pcap
