#include "backends/windows/wpcap_backend.h"

// winsock2.h (through pcap.h) before windows.h; iphlpapi.h after both.
#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "core/config/ini.h"
#include "core/platform/wide_windows.h"

namespace skav::windows {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSnapLength = static_cast<int>(link::kMaxFrame);
// Frames one send queue holds: a window of the transfer protocol fits.
constexpr std::size_t kQueueFrames = 64;
// How long a polling wait sleeps before it looks again.
constexpr DWORD kPollSleepMs = 1;

DWORD milliseconds_until(Clock::time_point deadline) {
  Clock::time_point now = Clock::now();
  if (deadline <= now) return 0;
  return static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
}

class WpcapDevice : public link::FrameDevice {
 public:
  WpcapDevice(std::shared_ptr<const WpcapApi> api, pcap_t* handle, const WpcapPaths& paths,
              HANDLE event, pcap_send_queue* queue)
      : api_(std::move(api)), handle_(handle), paths_(paths), event_(event), queue_(queue) {}
  ~WpcapDevice() override {
    if (queue_ != nullptr) api_->sendqueue_destroy(queue_);
    api_->close(handle_);  // also closes the event handle, which belongs to the capture
  }
  WpcapDevice(const WpcapDevice&) = delete;
  WpcapDevice& operator=(const WpcapDevice&) = delete;

  int send(const std::uint8_t* frame, std::size_t length) override {
    return api_->sendpacket(handle_, frame, static_cast<int>(length)) == 0 ? 0 : -1;
  }

  // With a send queue, a whole window goes to the driver in one call. The queue stops at a
  // refused frame and says how many bytes went; the frames after the refused one are queued
  // again, so that one refusal does not keep the rest back.
  std::size_t send_frames(const std::uint8_t* header, const std::uint8_t* const* payloads,
                          const std::size_t* lengths, std::size_t count) override {
    if (queue_ == nullptr) return FrameDevice::send_frames(header, payloads, lengths, count);
    std::size_t done = 0;  // frames handled, sent or refused
    std::size_t sent = 0;
    while (done < count) {
      std::size_t batch = std::min(count - done, kQueueFrames);
      queue_->len = 0;
      for (std::size_t i = 0; i < batch; ++i) {
        std::size_t length = std::min(lengths[done + i], link::kMaxPayload);
        std::memcpy(frame_, header, link::kEthernetHeader);
        if (length > 0) std::memcpy(frame_ + link::kEthernetHeader, payloads[done + i], length);
        pcap_pkthdr packet{};
        packet.caplen = packet.len = static_cast<bpf_u_int32>(link::kEthernetHeader + length);
        api_->sendqueue_queue(queue_, &packet, frame_);
      }
      u_int bytes = api_->sendqueue_transmit(handle_, queue_, 0);
      if (bytes >= queue_->len) {
        done += batch;
        sent += batch;
        continue;
      }
      std::size_t whole = frames_within(bytes);
      sent += whole;
      done += whole + 1;  // the next one was refused: skip it
    }
    return sent;
  }

  // -1 when the adapter failed (removed, disabled). A failed adapter answers at once on every
  // call, so the rest of the time-out is slept first: a caller that polls does not spin.
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    if (pending_length_ > 0) {
      *frame = pending_;
      return std::exchange(pending_length_, 0);
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
      int result = take(frame);
      if (result > 0) return result;
      if (result < 0) {
        if (DWORD ms = milliseconds_until(deadline); ms > 0) Sleep(ms);
        return -1;
      }
      if (Clock::now() >= deadline) return 0;
      wait(deadline);
    }
  }

  // Without an event handle there is no way to learn that a frame waits but to take it: the
  // frame taken is kept for the next receive (the library keeps its bytes until then).
  void wait_readable(std::chrono::nanoseconds length) override {
    if (pending_length_ > 0) return;
    const Clock::time_point until = Clock::now() + length;
    if (paths_.waiting == Waiting::kEventHandle) {
      if (DWORD ms = milliseconds_until(until); ms > 0) WaitForSingleObject(event_, ms);
      return;
    }
    for (;;) {
      const std::uint8_t* frame = nullptr;
      int result = take(&frame);
      if (result > 0) {
        pending_ = frame;
        pending_length_ = result;
        return;
      }
      if (result < 0 || Clock::now() >= until) return;
      wait(until);
    }
  }

  std::optional<std::chrono::system_clock::time_point> last_receive_stamp() const override {
    return stamp_;
  }

 private:
  // The next frame: its length, 0 none waiting, -1 the adapter failed (removed, disabled).
  int take(const std::uint8_t** frame) {
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int result = api_->next_ex(handle_, &header, &data);
    if (result < 0) return -1;
    if (result == 0 || header == nullptr || data == nullptr) return 0;
    *frame = data;
    stamp_ = std::chrono::system_clock::time_point(
        std::chrono::seconds(header->ts.tv_sec) + std::chrono::microseconds(header->ts.tv_usec));
    woke_empty_ = false;
    return static_cast<int>(std::min<bpf_u_int32>(header->caplen, link::kMaxFrame));
  }

  // Sleeps until the adapter may have a frame, or at most until the deadline. The event is
  // set by the driver when data arrives; should it stay set while nothing can be taken, the
  // next wait sleeps instead, so that a receive never spins.
  void wait(Clock::time_point deadline) {
    DWORD ms = milliseconds_until(deadline);
    if (ms == 0) return;
    if (paths_.waiting == Waiting::kEventHandle && !woke_empty_) {
      woke_empty_ = WaitForSingleObject(event_, ms) == WAIT_OBJECT_0;
      return;
    }
    woke_empty_ = false;
    Sleep(std::min(ms, kPollSleepMs));
  }

  // How many whole queued frames the first `bytes` of the queue hold.
  std::size_t frames_within(u_int bytes) const {
    std::size_t frames = 0;
    u_int offset = 0;
    while (offset + sizeof(pcap_pkthdr) <= queue_->len) {
      pcap_pkthdr packet;
      std::memcpy(&packet, queue_->buffer + offset, sizeof packet);
      u_int end = offset + static_cast<u_int>(sizeof packet) + packet.caplen;
      if (end > bytes) break;
      ++frames;
      offset = end;
    }
    return frames;
  }

  std::shared_ptr<const WpcapApi> api_;
  pcap_t* handle_;
  WpcapPaths paths_;
  HANDLE event_;
  pcap_send_queue* queue_;
  bool woke_empty_ = false;  // the last event wait returned signalled and nothing was taken
  const std::uint8_t* pending_ = nullptr;
  int pending_length_ = 0;
  std::uint8_t frame_[link::kMaxFrame];
  std::chrono::system_clock::time_point stamp_{};
};

std::shared_ptr<const WpcapApi> load_library(std::string& error) {
  std::shared_ptr<WpcapLibrary> library = WpcapLibrary::load(error);
  if (!library) return nullptr;
  // The table keeps the library loaded for as long as a device uses it.
  return std::shared_ptr<const WpcapApi>(library, &library->api());
}

}  // namespace

std::string_view adapter_guid(std::string_view name) {
  std::size_t open = name.find('{');
  if (open == std::string_view::npos) return {};
  std::size_t close = name.find('}', open);
  if (close == std::string_view::npos) return {};
  return name.substr(open, close - open + 1);
}

namespace {

// GetAdaptersAddresses into `buffer`; the list's size is not known in advance, so the call is
// made again with the size it asks for. Null when it fails.
const IP_ADAPTER_ADDRESSES* read_addresses(std::vector<unsigned char>& buffer) {
  constexpr ULONG kFlags = GAA_FLAG_SKIP_UNICAST | GAA_FLAG_SKIP_ANYCAST |
                           GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = 16 * 1024;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.resize(size);
    result = GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                  reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (result != NO_ERROR) return nullptr;
  return reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
}

}  // namespace

void attach_friendly_names(std::vector<link::AdapterInfo>& adapters,
                           const std::vector<AdapterTableRow>& table) {
  for (link::AdapterInfo& adapter : adapters) {
    const std::string_view guid = adapter_guid(adapter.name);
    if (guid.empty()) continue;
    for (const AdapterTableRow& row : table)
      if (config::equals_ignore_case(row.guid, guid) && !row.friendly_name.empty()) {
        adapter.friendly_name = row.friendly_name;
        break;
      }
  }
}

std::vector<AdapterTableRow> read_adapter_table() {
  std::vector<unsigned char> buffer;
  std::vector<AdapterTableRow> table;
  for (const IP_ADAPTER_ADDRESSES* a = read_addresses(buffer); a != nullptr; a = a->Next) {
    if (a->AdapterName == nullptr) continue;
    table.push_back({a->AdapterName,
                     a->FriendlyName != nullptr ? platform::utf8_of_wide(a->FriendlyName) : ""});
  }
  return table;
}

WpcapBackend::WpcapBackend() { api_ = load_library(load_error_); }

WpcapBackend::WpcapBackend(std::shared_ptr<const WpcapApi> api) : api_(std::move(api)) {
  if (!api_) {
    load_error_ = "no capture library";
  } else if (const char* missing = first_missing_required(*api_)) {
    load_error_ = std::string("the capture library lacks ") + missing;
    api_.reset();
  }
}

link::AdapterListing WpcapBackend::list_adapters() {
  link::AdapterListing listing;
  if (!api_) {
    listing.ok = false;
    listing.error = load_error_;
    return listing;
  }
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* devices = nullptr;
  if (api_->findalldevs(&devices, error) == -1) {
    listing.ok = false;
    listing.error = error;
    return listing;
  }
  for (pcap_if_t* d = devices; d != nullptr; d = d->next) {
    listing.adapters.push_back({d->name, d->description != nullptr ? d->description : "", ""});
  }
  api_->freealldevs(devices);
  attach_friendly_names(listing.adapters, read_adapter_table());
  return listing;
}

std::optional<link::Mac> WpcapBackend::adapter_mac(const std::string& name) {
  std::string_view guid = adapter_guid(name);
  if (guid.empty()) return std::nullopt;
  std::vector<unsigned char> buffer;
  for (const IP_ADAPTER_ADDRESSES* a = read_addresses(buffer); a != nullptr; a = a->Next) {
    if (a->AdapterName == nullptr || !config::equals_ignore_case(a->AdapterName, guid)) continue;
    if (a->PhysicalAddressLength != 6) return std::nullopt;
    link::Mac mac;
    std::memcpy(mac.data(), a->PhysicalAddress, 6);
    return mac;
  }
  return std::nullopt;
}

link::OpenResult WpcapBackend::open(const std::string& name) {
  return open_filtered(name, link::kEtherReply, link::kEtherTargetData);
}

link::OpenResult WpcapBackend::open_for_board(const std::string& name) {
  return open_filtered(name, link::kEtherProbe, link::kEtherHostData);
}

link::OpenResult WpcapBackend::open_filtered(const std::string& name, std::uint16_t first,
                                             std::uint16_t second) {
  if (!api_) return {nullptr, load_error_, false};
  const WpcapApi& api = *api_;
  WpcapPaths paths = choose_paths(api);
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = api.create(name.c_str(), error);
  if (handle == nullptr) return {nullptr, error, false};
  auto fail = [&](std::string text, bool permission_denied) {
    api.close(handle);
    return link::OpenResult{nullptr, std::move(text), permission_denied};
  };
  api.set_snaplen(handle, kSnapLength);
  api.set_promisc(handle, 1);
  api.set_timeout(handle, static_cast<int>(link::kReadTimeout.count()));
  if (paths.delivery == Delivery::kImmediateMode && api.set_immediate_mode(handle, 1) != 0)
    paths.delivery = api.setmintocopy != nullptr ? Delivery::kMinToCopy : Delivery::kReadTimeout;
  int status = api.activate(handle);
  if (status < 0) {
    const char* text = api.geterr(handle);
    std::string reason = text != nullptr && text[0] != '\0' ? text
                         : api.statustostr != nullptr       ? api.statustostr(status)
                                                            : "error " + std::to_string(status);
    return fail(reason,
                status == PCAP_ERROR_PERM_DENIED || status == PCAP_ERROR_PROMISC_PERM_DENIED);
  }
  // Only Ethernet framing carries the EtherType at bytes 12-13.
  if (api.datalink != nullptr) {
    if (int type = api.datalink(handle); type != DLT_EN10MB)
      return fail("not an Ethernet adapter (link type " + std::to_string(type) + ")", false);
  }
  if (paths.delivery == Delivery::kMinToCopy && api.setmintocopy(handle, 0) != 0)
    paths.delivery = Delivery::kReadTimeout;
  // Without the filter the adapter delivers every frame; the link drops the foreign ones.
  if (paths.kernel_filter) {
    char filter[64];
    std::snprintf(filter, sizeof filter, "ether proto 0x%04x or ether proto 0x%04x", first,
                  second);
    bpf_program program{};
    paths.kernel_filter = api.compile(handle, &program, filter, 1, PCAP_NETMASK_UNKNOWN) == 0;
    if (paths.kernel_filter) {
      paths.kernel_filter = api.setfilter(handle, &program) == 0;
      api.freecode(&program);
    }
  }
  // Non-blocking: a receive never waits inside the library, only on the event or in a sleep
  // it bounds itself.
  if (api.setnonblock(handle, 1, error) != 0)
    return fail(std::string("pcap_setnonblock: ") + error, false);
  HANDLE event = nullptr;
  if (paths.waiting == Waiting::kEventHandle) {
    event = api.getevent(handle);
    if (event == nullptr) paths.waiting = Waiting::kPoll;
  }
  pcap_send_queue* queue = nullptr;
  if (paths.sending == Sending::kSendQueue) {
    queue = api.sendqueue_alloc(
        static_cast<u_int>(kQueueFrames * (sizeof(pcap_pkthdr) + link::kMaxFrame)));
    if (queue == nullptr) paths.sending = Sending::kOneByOne;
  }
  opened_paths_ = paths;
  return {std::make_unique<WpcapDevice>(api_, handle, paths, event, queue), {}, false};
}

}  // namespace skav::windows
