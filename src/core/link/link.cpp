#include "core/link/link.h"

#include <cstring>
#include <thread>

namespace skav::link {

namespace {
// An adapter without a description is listed under its system name, cut to 27 characters
// so that it fits a 28-byte text slot.
constexpr std::size_t kNoDescriptionLength = 27;

// What the operator can do when raw access is refused for lack of privileges.
constexpr const char* kPrivilegeHint =
    "Raw Ethernet access needs root or the capabilities cap_net_raw (and cap_net_admin for "
    "promiscuous mode), e.g. sudo setcap cap_net_raw,cap_net_admin=eip $(command -v skav)\r\n";
}  // namespace

Link::Link(FrameBackend& backend) : backend_(backend) {}

Link::~Link() { close_link(); }

void Link::enumerate_adapters(Log* log, AdapterList& list) {
  list.count = 0;
  list.entries.clear();
  list.names.clear();
  AdapterListing listing = backend_.list_adapters();
  if (!listing.ok) {
    log_sink(log, "Error in pcap_findalldevs: %s\r\n", listing.error.c_str());
    if (listing.permission_denied) log_sink(log, "%s", kPrivilegeHint);
    device_list_.clear();
    listed_ = false;
    adapter_count_ = 0;
    return;
  }
  device_list_ = std::move(listing.adapters);
  listed_ = true;
  for (const AdapterInfo& adapter : device_list_) {
    list.entries.push_back(!adapter.description.empty()
                               ? adapter.description
                               : adapter.name.substr(0, kNoDescriptionLength));
    list.names.push_back(adapter.name);
    ++list.count;
  }
  adapter_count_ = list.count;
}

int Link::open_adapter(Log* log, int n) {
  // A second open replaces the first: release the old device before taking a new one.
  device_.reset();
  open_name_.clear();
  if (n < 1 || n > adapter_count_ || !listed_) {
    log_sink(log, "Interface number out of range.inum:%02d,iIfNum:%02d\r\n", n, adapter_count_);
    device_list_.clear();
    listed_ = false;
    return 0;
  }
  const AdapterInfo& adapter = device_list_[static_cast<std::size_t>(n - 1)];
  if (std::optional<Mac> mac = backend_.adapter_mac(adapter.name)) host_mac_ = *mac;
  OpenResult opened = backend_.open(adapter.name);
  if (!opened.device) {
    log_sink(log, "Unable to open the adapter. %s is not supported by WinPcap\r\n",
             adapter.name.c_str());
    // The line above is the station's fixed text; the platform's reason follows it so that
    // the operator can tell a missing privilege from a missing adapter.
    if (!opened.error.empty()) log_sink(log, "Reason: %s\r\n", opened.error.c_str());
    if (opened.permission_denied) log_sink(log, "%s", kPrivilegeHint);
    device_list_.clear();
    listed_ = false;
    return 0;
  }
  device_ = std::move(opened.device);
  open_name_ = adapter.name;
  return 1;
}

int Link::send_data_frame(const std::uint8_t* payload, std::uint32_t length) {
  if (length > kMaxPayload) return -2;
  if (!device_) return -1;
  write_header(transmit_.data(), target_mac_, host_mac_, kEtherHostData);
  if (length > 0) std::memcpy(transmit_.data() + kEthernetHeader, payload, length);
  return device_->send(transmit_.data(), kEthernetHeader + length);
}

int Link::send_data_frames(const std::uint8_t* data, std::uint32_t length, std::uint32_t chunk) {
  constexpr std::uint32_t kMaxBatch = 64;
  if (chunk == 0 || chunk > kMaxPayload || length > chunk * kMaxBatch) return -2;
  if (!device_) return -1;
  std::uint8_t header[kEthernetHeader];
  write_header(header, target_mac_, host_mac_, kEtherHostData);
  const std::uint8_t* payloads[kMaxBatch];
  std::size_t lengths[kMaxBatch];
  std::size_t count = 0;
  for (std::uint32_t pos = 0; pos < length; pos += chunk, ++count) {
    payloads[count] = data + pos;
    lengths[count] = length - pos < chunk ? length - pos : chunk;
  }
  return device_->send_frames(header, payloads, lengths, count) == count ? 0 : -1;
}

int Link::receive_data_frame(std::uint8_t* buffer, std::uint32_t capacity) {
  if (!device_) {
    // Nothing can arrive; waiting the read time-out keeps a caller's polling loop from
    // spinning on a link that is not open.
    std::this_thread::sleep_for(kReadTimeout);
    return 0;
  }
  const std::uint8_t* frame = nullptr;
  int length = device_->receive(&frame, kReadTimeout);
  if (length <= 0) return 0;
  if (static_cast<std::size_t>(length) < kEthernetHeader || ether_type(frame) != kEtherTargetData)
    return -2;
  auto payload = static_cast<std::uint32_t>(static_cast<std::size_t>(length) - kEthernetHeader);
  if (payload > capacity) {
    std::memcpy(buffer, frame + kEthernetHeader, capacity);
    return -3;
  }
  if (payload > 0) std::memcpy(buffer, frame + kEthernetHeader, payload);
  return static_cast<int>(payload);
}

void Link::wait_for_frame(std::chrono::steady_clock::time_point until) {
  if (device_) device_->wait_readable(until);
}

void Link::close_link() {
  device_list_.clear();
  listed_ = false;
  device_.reset();
  open_name_.clear();
}

}  // namespace skav::link
