#include "backends/windows/wpcap_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace skav::windows {
namespace {

// A scripted capture library behind a WpcapApi table: frames to deliver, frames sent, the
// results its calls give.
struct FakePcap {
  std::deque<std::vector<std::uint8_t>> incoming;
  std::vector<std::uint8_t> delivered;  // the frame next_ex handed out last
  bool failed = false;                  // next_ex reports the adapter gone
  int next_ex_calls = 0;
  std::vector<std::vector<std::uint8_t>> sent;
  int refuse_send = -1;  // the index (counted over all sends) of a frame the library refuses
  int sends = 0;
  int transmits = 0;
  int immediate_result = 0;
  int activate_status = 0;
  int mintocopy = -1;
  std::string filter;
  bool closed = false;
  HANDLE event = nullptr;
};
FakePcap* fake = nullptr;
char fake_handle_storage;
pcap_t* fake_handle() { return reinterpret_cast<pcap_t*>(&fake_handle_storage); }

int f_findalldevs(pcap_if_t**, char*) { return -1; }
void f_freealldevs(pcap_if_t*) {}
pcap_t* f_create(const char*, char*) { return fake_handle(); }
int f_ok_int(pcap_t*, int) { return 0; }
int f_set_immediate_mode(pcap_t*, int) { return fake->immediate_result; }
int f_activate(pcap_t*) { return fake->activate_status; }
int f_setnonblock(pcap_t*, int, char*) { return 0; }
char* f_geterr(pcap_t*) { return const_cast<char*>("denied by the fake"); }
void f_close(pcap_t*) { fake->closed = true; }
int f_datalink(pcap_t*) { return DLT_EN10MB; }
int f_compile(pcap_t*, bpf_program*, const char* text, int, bpf_u_int32) {
  fake->filter = text;
  return 0;
}
int f_setfilter(pcap_t*, bpf_program*) { return 0; }
void f_freecode(bpf_program*) {}
int f_setmintocopy(pcap_t*, int size) { return fake->mintocopy = size, 0; }
HANDLE f_getevent(pcap_t*) { return fake->event; }

int f_next_ex(pcap_t*, pcap_pkthdr** header, const u_char** data) {
  ++fake->next_ex_calls;
  if (fake->failed) return -1;
  if (fake->incoming.empty()) return 0;
  static pcap_pkthdr h;
  fake->delivered = std::move(fake->incoming.front());
  fake->incoming.pop_front();
  h = {};
  h.caplen = h.len = static_cast<bpf_u_int32>(fake->delivered.size());
  *header = &h;
  *data = fake->delivered.data();
  return 1;
}

// One frame on the wire, unless it is the one to refuse.
bool wire_send(const u_char* data, std::size_t length) {
  if (fake->sends++ == fake->refuse_send) return false;
  fake->sent.emplace_back(data, data + length);
  return true;
}
int f_sendpacket(pcap_t*, const u_char* data, int length) {
  return wire_send(data, static_cast<std::size_t>(length)) ? 0 : -1;
}

pcap_send_queue* f_sendqueue_alloc(u_int size) {
  auto* queue = new pcap_send_queue{size, 0, new char[size]};
  return queue;
}
void f_sendqueue_destroy(pcap_send_queue* queue) {
  delete[] queue->buffer;
  delete queue;
}
int f_sendqueue_queue(pcap_send_queue* queue, const pcap_pkthdr* header, const u_char* data) {
  if (queue->len + sizeof *header + header->caplen > queue->maxlen) return -1;
  std::memcpy(queue->buffer + queue->len, header, sizeof *header);
  std::memcpy(queue->buffer + queue->len + sizeof *header, data, header->caplen);
  queue->len += static_cast<u_int>(sizeof *header + header->caplen);
  return 0;
}
// Like the driver: stops at the first refused frame and returns the bytes sent before it.
u_int f_sendqueue_transmit(pcap_t*, pcap_send_queue* queue, int) {
  ++fake->transmits;
  u_int offset = 0;
  while (offset < queue->len) {
    pcap_pkthdr header;
    std::memcpy(&header, queue->buffer + offset, sizeof header);
    if (!wire_send(reinterpret_cast<u_char*>(queue->buffer + offset + sizeof header),
                   header.caplen))
      break;
    offset += static_cast<u_int>(sizeof header + header.caplen);
  }
  return offset;
}

// The table Npcap offers: every call there.
WpcapApi npcap_table() {
  WpcapApi api;
  api.findalldevs = f_findalldevs;
  api.freealldevs = f_freealldevs;
  api.create = f_create;
  api.set_snaplen = f_ok_int;
  api.set_promisc = f_ok_int;
  api.set_timeout = f_ok_int;
  api.activate = f_activate;
  api.setnonblock = f_setnonblock;
  api.next_ex = f_next_ex;
  api.sendpacket = f_sendpacket;
  api.geterr = f_geterr;
  api.close = f_close;
  api.datalink = f_datalink;
  api.compile = f_compile;
  api.setfilter = f_setfilter;
  api.freecode = f_freecode;
  api.set_immediate_mode = f_set_immediate_mode;
  api.setmintocopy = f_setmintocopy;
  api.getevent = f_getevent;
  api.sendqueue_alloc = f_sendqueue_alloc;
  api.sendqueue_destroy = f_sendqueue_destroy;
  api.sendqueue_queue = f_sendqueue_queue;
  api.sendqueue_transmit = f_sendqueue_transmit;
  return api;
}

class WpcapFake : public ::testing::Test {
 protected:
  void SetUp() override { fake = &state_; }
  void TearDown() override {
    if (state_.event != nullptr) CloseHandle(state_.event);
    fake = nullptr;
  }
  WpcapBackend backend(const WpcapApi& api) {
    return WpcapBackend(std::make_shared<const WpcapApi>(api));
  }
  FakePcap state_;
};

// Resolution: every name found, as in a full library; under Wine the stubs stay out.
AnyFunction any_symbol(const char* name, void* asked) {
  static_cast<std::set<std::string>*>(asked)->insert(name);
  return reinterpret_cast<AnyFunction>(&f_freecode);
}

TEST(WpcapResolve, UnderWineTheAbortingStubsAreNeitherLookedUpNorUsed) {
  for (bool wine : {false, true}) {
    SCOPED_TRACE(wine ? "under Wine" : "on Windows");
    std::set<std::string> asked;
    WpcapApi api = resolve_wpcap(&any_symbol, &asked, wine);
    EXPECT_EQ(first_missing_required(api), nullptr);
    for (const char* stub : {"pcap_setmintocopy", "pcap_getevent", "pcap_sendqueue_alloc",
                             "pcap_sendqueue_destroy", "pcap_sendqueue_queue",
                             "pcap_sendqueue_transmit"})
      EXPECT_EQ(asked.count(stub), wine ? 0u : 1u) << stub;
    EXPECT_EQ(api.getevent == nullptr, wine);
    EXPECT_EQ(api.sendqueue_transmit == nullptr, wine);
    EXPECT_NE(api.set_immediate_mode, nullptr);  // a real export wherever it is found
  }
}

TEST(WpcapPathsChoice, EachMissingFunctionSelectsItsFallback) {
  struct Case {
    const char* name;
    void (*strip)(WpcapApi&);
    Delivery delivery;
    Waiting waiting;
    Sending sending;
    bool filter;
  };
  const Case cases[] = {
      {"Npcap", [](WpcapApi&) {}, Delivery::kImmediateMode, Waiting::kEventHandle,
       Sending::kSendQueue, true},
      {"no immediate mode", [](WpcapApi& a) { a.set_immediate_mode = nullptr; },
       Delivery::kMinToCopy, Waiting::kEventHandle, Sending::kSendQueue, true},
      {"Wine",
       [](WpcapApi& a) {
         a.set_immediate_mode = nullptr;
         a.setmintocopy = nullptr;
         a.getevent = nullptr;
         a.sendqueue_alloc = nullptr;
         a.sendqueue_destroy = nullptr;
         a.sendqueue_queue = nullptr;
         a.sendqueue_transmit = nullptr;
       },
       Delivery::kReadTimeout, Waiting::kPoll, Sending::kOneByOne, true},
      {"queue without transmit", [](WpcapApi& a) { a.sendqueue_transmit = nullptr; },
       Delivery::kImmediateMode, Waiting::kEventHandle, Sending::kOneByOne, true},
      {"no filter compiler", [](WpcapApi& a) { a.compile = nullptr; }, Delivery::kImmediateMode,
       Waiting::kEventHandle, Sending::kSendQueue, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WpcapApi api = npcap_table();
    c.strip(api);
    WpcapPaths paths = choose_paths(api);
    EXPECT_EQ(paths.delivery, c.delivery);
    EXPECT_EQ(paths.waiting, c.waiting);
    EXPECT_EQ(paths.sending, c.sending);
    EXPECT_EQ(paths.kernel_filter, c.filter);
  }
}

TEST_F(WpcapFake, ALibraryWithoutARequiredCallSaysWhichOneItLacks) {
  WpcapApi api = npcap_table();
  api.create = nullptr;
  WpcapBackend b = backend(api);
  link::AdapterListing listing = b.list_adapters();
  EXPECT_FALSE(listing.ok);
  EXPECT_NE(listing.error.find("pcap_create"), std::string::npos) << listing.error;
  link::OpenResult opened = b.open("\\Device\\NPF_{X}");
  EXPECT_EQ(opened.device, nullptr);
  EXPECT_NE(opened.error.find("pcap_create"), std::string::npos) << opened.error;
}

TEST_F(WpcapFake, FailingCallsAtOpenStepDownToTheNextPath) {
  state_.immediate_result = PCAP_ERROR_ACTIVATED;  // immediate mode refused
  state_.event = nullptr;                          // no event handle given
  WpcapBackend b = backend(npcap_table());
  link::OpenResult opened = b.open("\\Device\\NPF_{X}");
  ASSERT_NE(opened.device, nullptr) << opened.error;
  EXPECT_EQ(b.opened_paths().delivery, Delivery::kMinToCopy);
  EXPECT_EQ(state_.mintocopy, 0);
  EXPECT_EQ(b.opened_paths().waiting, Waiting::kPoll);
  EXPECT_EQ(state_.filter, "ether proto 0x8022 or ether proto 0x8088");
  EXPECT_EQ(describe(b.opened_paths()),
            "minimum to copy 0, polling, send queue, kernel filter");
}

TEST_F(WpcapFake, AnActivationRefusedForLackOfRightsClosesTheHandleAndSaysSo) {
  state_.activate_status = PCAP_ERROR_PERM_DENIED;
  WpcapBackend b = backend(npcap_table());
  link::OpenResult opened = b.open("\\Device\\NPF_{X}");
  EXPECT_EQ(opened.device, nullptr);
  EXPECT_TRUE(opened.permission_denied);
  EXPECT_EQ(opened.error, "denied by the fake");
  EXPECT_TRUE(state_.closed);
}

// A window of three frames with the second refused: the third still goes, in the same order,
// and each carries the header and its payload.
TEST_F(WpcapFake, AWindowGoesOutWithARefusedFrameSkippedOnBothSendPaths) {
  for (bool queue : {true, false}) {
    SCOPED_TRACE(queue ? "send queue" : "one by one");
    state_ = FakePcap{};
    state_.refuse_send = 1;
    WpcapApi api = npcap_table();
    if (!queue) api.sendqueue_transmit = nullptr;
    WpcapBackend b = backend(api);
    link::OpenResult opened = b.open("\\Device\\NPF_{X}");
    ASSERT_NE(opened.device, nullptr);
    const std::uint8_t header[14] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x80, 0x77};
    const std::uint8_t a[] = {0xa1}, bb[] = {0xb1, 0xb2}, c[] = {0xc1, 0xc2, 0xc3};
    const std::uint8_t* payloads[] = {a, bb, c};
    const std::size_t lengths[] = {1, 2, 3};
    EXPECT_EQ(opened.device->send_frames(header, payloads, lengths, 3), 2u);
    ASSERT_EQ(state_.sent.size(), 2u);
    std::vector<std::uint8_t> first(header, header + 14), third(header, header + 14);
    first.push_back(0xa1);
    third.insert(third.end(), c, c + 3);
    EXPECT_EQ(state_.sent[0], first);
    EXPECT_EQ(state_.sent[1], third);
    EXPECT_EQ(state_.transmits, queue ? 2 : 0);  // the frames after the refusal, queued again
  }
}

TEST_F(WpcapFake, ReceiveTellsAFrameNothingAndAFailedAdapterApart) {
  WpcapApi api = npcap_table();
  api.getevent = nullptr;
  WpcapBackend b = backend(api);
  link::OpenResult opened = b.open("\\Device\\NPF_{X}");
  ASSERT_NE(opened.device, nullptr);
  const std::uint8_t* frame = nullptr;
  state_.incoming.push_back({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 2, 0, 0, 0, 0, 1, 0x80, 0x22});
  ASSERT_EQ(opened.device->receive(&frame, std::chrono::milliseconds(5)), 14);
  EXPECT_EQ(link::ether_type(frame), link::kEtherReply);
  EXPECT_EQ(opened.device->receive(&frame, std::chrono::milliseconds(5)), 0);
  EXPECT_GT(state_.next_ex_calls, 2);  // it looked again after sleeping
  state_.failed = true;
  EXPECT_EQ(opened.device->receive(&frame, std::chrono::milliseconds(5)), -1);
}

// Polling has no way to see a waiting frame but to take it: the wait keeps it for the receive.
TEST_F(WpcapFake, APollingWaitKeepsTheFrameItTookForTheNextReceive) {
  WpcapApi api = npcap_table();
  api.getevent = nullptr;
  WpcapBackend b = backend(api);
  link::OpenResult opened = b.open("\\Device\\NPF_{X}");
  ASSERT_NE(opened.device, nullptr);
  state_.incoming.push_back(std::vector<std::uint8_t>(60, 0x88));
  opened.device->wait_readable(std::chrono::milliseconds(50));
  int calls = state_.next_ex_calls;
  const std::uint8_t* frame = nullptr;
  EXPECT_EQ(opened.device->receive(&frame, std::chrono::milliseconds(0)), 60);
  EXPECT_EQ(frame[59], 0x88);
  EXPECT_EQ(state_.next_ex_calls, calls);
}

TEST_F(WpcapFake, AnEventWaitReturnsWhenTheDriverSignalsAFrame) {
  state_.event = CreateEventA(nullptr, TRUE, TRUE, nullptr);  // set: a frame is waiting
  WpcapBackend b = backend(npcap_table());
  link::OpenResult opened = b.open("\\Device\\NPF_{X}");
  ASSERT_NE(opened.device, nullptr);
  EXPECT_EQ(b.opened_paths().waiting, Waiting::kEventHandle);
  state_.incoming.push_back(std::vector<std::uint8_t>(60, 0x88));
  const std::uint8_t* frame = nullptr;
  EXPECT_EQ(opened.device->receive(&frame, std::chrono::milliseconds(50)), 60);
  // The event stays set with nothing to take: the receive still ends at its time-out.
  EXPECT_EQ(opened.device->receive(&frame, std::chrono::milliseconds(20)), 0);
}

// A PC without Npcap: ctest runs this test alone with wpcap.dll hidden from Wine
// (WINEDLLOVERRIDES=wpcap=, skav_windows_without_wpcap); skipped in the normal run.
TEST(WpcapLoad, WithoutTheLibraryTheOperatorIsToldToInstallNpcap) {
  if (std::getenv("SKAV_WPCAP_HIDDEN") == nullptr)
    GTEST_SKIP() << "run with wpcap.dll hidden, as skav_windows_without_wpcap";
  WpcapBackend backend;
  EXPECT_NE(backend.load_error().find("wpcap.dll could not be loaded"), std::string::npos)
      << backend.load_error();
  EXPECT_NE(backend.load_error().find("install Npcap (https://npcap.com)"), std::string::npos);
  link::AdapterListing listing = backend.list_adapters();
  EXPECT_FALSE(listing.ok);
  EXPECT_EQ(listing.error, backend.load_error());
}

TEST(CaptureLibrary, OnlyNpcapFromOneOnWillDo) {
  struct Case {
    const char* version;
    bool under_wine;
    bool will_do;
  };
  const Case cases[] = {
      {"Npcap version 1.00, based on libpcap version 1.9.1", false, true},
      {"Npcap version 1.79, based on libpcap version 1.10.4", false, true},
      {"Npcap version 12.5, based on libpcap version 2.0", false, true},
      {"Npcap version 0.9991, based on libpcap version 1.9.1", false, false},
      {"Npcap version 0.99-r9, based on libpcap version 1.8.1", false, false},
      {"Npcap version , based on libpcap", false, false},
      {"WinPcap version 4.1.3 (packet.dll version 4.1.0.2980), based on libpcap version 1.0", false,
       false},
      {"libpcap version 1.10.3 (with TPACKET_V3)", false, false},
      {"libpcap version 1.10.3 (with TPACKET_V3)", true, true},
      {"WinPcap version 4.1.3", true, false},
      {"", false, false},
      {"npcap version 1.79", false, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(capture_library_will_do(c.version, c.under_wine), c.will_do)
        << c.version << (c.under_wine ? " under Wine" : "");
}

TEST(FriendlyNames, EachAdapterTakesTheNameOfTheRowWithItsGuid) {
  std::vector<link::AdapterInfo> adapters = {
      {"\\Device\\NPF_{6C0A1B2C-0000-4000-8000-0123456789AB}", "Intel(R) Ethernet", ""},
      {"\\Device\\NPF_{11111111-2222-3333-4444-555555555555}", "Realtek USB NIC", ""},
      {"\\Device\\NPF_Loopback", "Adapter for loopback traffic capture", ""},
      {"\\Device\\NPF_{99999999-0000-0000-0000-000000000000}", "Gone", "kept"},
  };
  const std::vector<AdapterTableRow> table = {
      {"{11111111-2222-3333-4444-555555555555}", "Ethernet 2"},
      // The system's table writes the GUID in capitals, the capture library may not.
      {"{6c0a1b2c-0000-4000-8000-0123456789ab}", "Ethernet \xce\xa9"},
      {"{99999999-0000-0000-0000-000000000000}", ""},
      {"", "No GUID"},
  };
  attach_friendly_names(adapters, table);
  EXPECT_EQ(adapters[0].friendly_name, "Ethernet \xce\xa9");
  EXPECT_EQ(adapters[1].friendly_name, "Ethernet 2");
  EXPECT_EQ(adapters[2].friendly_name, "") << "a name without a GUID matches no row";
  EXPECT_EQ(adapters[3].friendly_name, "kept") << "an empty friendly name replaces nothing";
}

TEST(FriendlyNames, TheSystemsTableGivesEveryListedAdapterItsName) {
  // What Wine or Windows gives end to end: every adapter the capture library lists under a
  // GUID is in the system's table, so each gets a friendly name.
  WpcapBackend backend;
  if (!backend.load_error().empty()) GTEST_SKIP() << backend.load_error();
  link::AdapterListing listing = backend.list_adapters();
  ASSERT_TRUE(listing.ok) << listing.error;
  const std::vector<AdapterTableRow> table = read_adapter_table();
  for (const link::AdapterInfo& adapter : listing.adapters) {
    if (adapter_guid(adapter.name).empty()) continue;
    EXPECT_FALSE(adapter.friendly_name.empty()) << adapter.name;
    bool in_table = false;
    for (const AdapterTableRow& row : table) in_table = in_table || row.friendly_name == adapter.friendly_name;
    EXPECT_TRUE(in_table) << adapter.name << " " << adapter.friendly_name;
  }
}

TEST(AdapterGuid, TakesTheBracedPartOfTheDeviceName) {
  const std::pair<const char*, const char*> cases[] = {
      {"\\Device\\NPF_{6C0A1B2C-0000-4000-8000-0123456789AB}",
       "{6C0A1B2C-0000-4000-8000-0123456789AB}"},
      {"\\Device\\NPF_Loopback", ""},
      {"{only}", "{only}"},
      {"\\Device\\NPF_{unclosed", ""},
  };
  for (const auto& [name, guid] : cases) EXPECT_EQ(adapter_guid(name), guid) << name;
}

}  // namespace
}  // namespace skav::windows
