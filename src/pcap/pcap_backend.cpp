#include "pcap/pcap_backend.h"

#include <net/if.h>
#include <pcap/pcap.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace skav::pcap {

namespace {

constexpr int kSnapLength = 1514;

class PcapDevice : public link::FrameDevice {
 public:
  PcapDevice(pcap_t* handle, int fd) : handle_(handle), fd_(fd) {}
  ~PcapDevice() override { pcap_close(handle_); }
  PcapDevice(const PcapDevice&) = delete;
  PcapDevice& operator=(const PcapDevice&) = delete;

  int send(const std::uint8_t* frame, std::size_t length) override {
    return pcap_sendpacket(handle_, frame, static_cast<int>(length)) == 0 ? 0 : -1;
  }

  // The handle is non-blocking: take a frame that is already there, else wait on the
  // selectable descriptor for at most the time-out and try once more. pcap_next_ex's own
  // time-out is not relied on: on an idle Linux link it may keep waiting inside the call.
  int receive(const std::uint8_t** frame, std::chrono::milliseconds timeout) override {
    for (int round = 0; round < 2; ++round) {
      pcap_pkthdr* header = nullptr;
      const u_char* data = nullptr;
      int result = pcap_next_ex(handle_, &header, &data);
      if (result == 1) {
        *frame = data;
        return static_cast<int>(header->caplen);
      }
      if (result < 0 || round == 1) return 0;
      pollfd pfd{fd_, POLLIN, 0};
      if (poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0) return 0;
    }
    return 0;
  }

 private:
  pcap_t* handle_;
  int fd_;
};

link::OpenResult open_filtered(const std::string& name, const char* filter) {
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_t* handle = pcap_create(name.c_str(), error);
  if (handle == nullptr) return {nullptr, error};
  auto fail = [&](const char* what) {
    std::string text = std::string(what) + ": " + pcap_geterr(handle);
    pcap_close(handle);
    return link::OpenResult{nullptr, text};
  };
  pcap_set_snaplen(handle, kSnapLength);
  pcap_set_promisc(handle, 1);
  pcap_set_timeout(handle, static_cast<int>(link::kReadTimeout.count()));
  pcap_set_immediate_mode(handle, 1);
  int status = pcap_activate(handle);
  if (status < 0) return fail("pcap_activate");
  bpf_program program{};
  if (pcap_compile(handle, &program, filter, 1, PCAP_NETMASK_UNKNOWN) != 0)
    return fail("pcap_compile");
  int filtered = pcap_setfilter(handle, &program);
  pcap_freecode(&program);
  if (filtered != 0) return fail("pcap_setfilter");
  if (pcap_setnonblock(handle, 1, error) != 0) return fail("pcap_setnonblock");
  int fd = pcap_get_selectable_fd(handle);
  if (fd < 0) return fail("pcap_get_selectable_fd");
  return {std::make_unique<PcapDevice>(handle, fd), {}};
}

}  // namespace

link::AdapterListing PcapBackend::list_adapters() {
  link::AdapterListing listing;
  char error[PCAP_ERRBUF_SIZE] = {};
  pcap_if_t* devices = nullptr;
  if (pcap_findalldevs(&devices, error) == -1) {
    listing.ok = false;
    listing.error = error;
    return listing;
  }
  for (pcap_if_t* d = devices; d != nullptr; d = d->next) {
    listing.adapters.push_back({d->name, d->description != nullptr ? d->description : ""});
  }
  pcap_freealldevs(devices);
  return listing;
}

std::optional<link::Mac> PcapBackend::adapter_mac(const std::string& name) {
  if (name.size() >= IFNAMSIZ) return std::nullopt;
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) return std::nullopt;
  ifreq request{};
  std::memcpy(request.ifr_name, name.c_str(), name.size());
  int result = ioctl(fd, SIOCGIFHWADDR, &request);
  close(fd);
  if (result != 0) return std::nullopt;
  link::Mac mac;
  std::memcpy(mac.data(), request.ifr_hwaddr.sa_data, 6);
  return mac;
}

link::OpenResult PcapBackend::open(const std::string& name) {
  return open_filtered(name, "ether proto 0x8022 or ether proto 0x8088");
}

link::OpenResult PcapBackend::open_for_board(const std::string& name) {
  return open_filtered(name, "ether proto 0x8011 or ether proto 0x8077");
}

}  // namespace skav::pcap
