#include "core/link/link.h"

#include <algorithm>
#include <cstring>

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

Link::Link(FrameBackend& backend, Clock& clock) : backend_(backend), clock_(clock) {}

Link::~Link() { close_link(); }

void Link::enumerate_adapters(Log* log, AdapterList& list) {
  list.count = 0;
  list.entries.clear();
  list.names.clear();
  list.friendly_names.clear();
  AdapterListing listing = backend_.list_adapters();
  if (!listing.ok) {
    log_sink(log, "Error in pcap_findalldevs: %s\r\n", listing.error.c_str());
    if (listing.permission_denied) log_sink(log, "%s", kPrivilegeHint);
    list_error_ = std::move(listing.error);
    device_list_.clear();
    listed_ = false;
    adapter_count_ = 0;
    return;
  }
  list_error_.clear();
  device_list_ = std::move(listing.adapters);
  listed_ = true;
  for (const AdapterInfo& adapter : device_list_) {
    list.entries.push_back(!adapter.description.empty()
                               ? adapter.description
                               : adapter.name.substr(0, kNoDescriptionLength));
    list.names.push_back(adapter.name);
    list.friendly_names.push_back(adapter.friendly_name);
    ++list.count;
  }
  adapter_count_ = list.count;
}

int Link::open_adapter(Log* log, int n) {
  // A second open replaces the first: release the old device before taking a new one.
  device_.reset();
  lost_ = false;
  open_name_.clear();
  open_friendly_name_.clear();
  open_error_.clear();
  if (n < 1 || n > adapter_count_ || !listed_) {
    log_sink(log, "Interface number out of range.inum:%02d,iIfNum:%02d\r\n", n, adapter_count_);
    open_error_ = listed_ ? "adapter number " + std::to_string(n) + " is not among the " +
                                std::to_string(adapter_count_) + " listed"
                          : "the adapters could not be listed" +
                                (list_error_.empty() ? "" : ": " + list_error_);
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
    open_error_ = opened.error.empty() ? "it cannot be opened" : opened.error;
    device_list_.clear();
    listed_ = false;
    return 0;
  }
  device_ = std::move(opened.device);
  open_name_ = adapter.name;
  open_friendly_name_ = adapter.friendly_name;
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
  const std::uint8_t* payloads[kMaxBatch] = {};
  std::size_t lengths[kMaxBatch] = {};
  std::size_t count = 0;
  for (std::uint32_t pos = 0; pos < length; pos += chunk, ++count) {
    payloads[count] = data + pos;
    lengths[count] = length - pos < chunk ? length - pos : chunk;
  }
  int result = device_->send_frames(header, payloads, lengths, count) == count ? 0 : -1;
  // The frames went out from the caller's buffer, not through the Transmit Frame; leave in it
  // what sending them one by one would have left, since the next probe carries those bytes.
  // Each payload byte position holds the last frame that reached it.
  std::memcpy(transmit_.data(), header, kEthernetHeader);
  std::size_t filled = 0;
  for (std::size_t i = count; i-- > 0 && filled < chunk;) {
    if (lengths[i] <= filled) continue;
    std::memcpy(transmit_.data() + kEthernetHeader + filled, payloads[i] + filled, lengths[i] - filled);
    filled = lengths[i];
  }
  return result;
}

int Link::receive(const std::uint8_t** frame) {
  if (!device_ || lost_) {
    // Nothing can arrive; pausing the read time-out keeps a caller's polling loop from
    // spinning on a link that is not open.
    clock_.sleep_for(kReadTimeout);
    return 0;
  }
  int length = device_->receive(frame, kReadTimeout);
  if (length < 0) {
    lost_ = true;
    return 0;
  }
  return length;
}

int Link::receive_data_frame(std::uint8_t* buffer, std::uint32_t capacity) {
  const std::uint8_t* frame = nullptr;
  int length = receive(&frame);
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

void Link::wait_for_frame(std::chrono::nanoseconds length) {
  if (device_ && !lost_) device_->wait_readable(length);
}

void Link::wait_frames(std::uint32_t count, Clock::time_point until) {
  if (!device_ || lost_) return;
  const Clock::time_point wake = until - wake_lead_;
  const Clock::time_point now = clock_.now();
  if (wake <= now) return;
  device_->wait_frames(count, wake - now);
  // A return before its time came with the frames, and says nothing of the timer.
  if (Clock::time_point woke = clock_.now(); woke >= wake) note_lateness(woke - wake);
}

// The lead is the lower quartile of the recent lateness: asked that much earlier, three wake-ups
// in four still come after their time (the frames are there, one wake-up takes them all), and
// they come later by the spread of the lateness only, not by all of it.
void Link::note_lateness(Clock::duration late) {
  lateness_[lateness_count_ % kLatenessSamples] = late;
  ++lateness_count_;
  std::size_t n = std::min(lateness_count_, kLatenessSamples);
  std::array<Clock::duration, kLatenessSamples> sorted = lateness_;
  auto quartile = sorted.begin() + static_cast<std::ptrdiff_t>(n / 4);
  std::nth_element(sorted.begin(), quartile, sorted.begin() + static_cast<std::ptrdiff_t>(n));
  wake_lead_ = *quartile;
}

std::optional<Clock::time_point> Link::last_arrival() const {
  if (!device_) return std::nullopt;
  std::optional<std::chrono::nanoseconds> age = device_->last_receive_age();
  if (!age) return std::nullopt;
  return clock_.now() - std::chrono::duration_cast<Clock::duration>(*age);
}

bool Link::check_adapter() {
  if (device_ && !lost_ && !device_->still_present()) lost_ = true;
  return device_ && !lost_;
}

int Link::send_probe() {
  // Only the header is written: the 46 payload bytes are whatever the last data frame left.
  write_header(transmit_.data(), kBroadcast, host_mac_, kEtherProbe);
  if (!device_ || lost_) return -1;
  return device_->send(transmit_.data(), kMinFrame);
}

int Link::receive_reply() {
  const std::uint8_t* frame = nullptr;
  int length = receive(&frame);
  if (length < static_cast<int>(kEthernetHeader) || ether_type(frame) != kEtherReply) return 0;
  Mac source;
  std::memcpy(source.data(), frame + 6, 6);
  target_mac_ = source;
  return 1;
}

int Link::drain(int most) {
  if (!device_ || lost_) return 0;
  int dropped = 0;
  const std::uint8_t* frame = nullptr;
  while (dropped < most) {
    int length = device_->receive(&frame, std::chrono::milliseconds(0));
    if (length < 0) lost_ = true;
    if (length <= 0) break;
    ++dropped;
  }
  return dropped;
}

void Link::close_link() {
  device_list_.clear();
  listed_ = false;
  device_.reset();
  lost_ = false;
  open_name_.clear();
  open_friendly_name_.clear();
}

}  // namespace skav::link
