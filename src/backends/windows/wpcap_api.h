#pragma once

// The capture library's public API as Debian's libpcap headers declare it (with _WIN32 they
// also declare the Windows-only calls), resolved at run time from wpcap.dll. Nothing here
// links against the library, so a program starts without it and can say what is missing.

#include <pcap/pcap.h>

#include <memory>
#include <string>
#include <string_view>

namespace skav::windows {

// Every function the link uses, as pointers. A null pointer is a function the library lacks
// (or one that must not be called, see resolve_wpcap).
struct WpcapApi {
  // Required: without any of these the link cannot work.
  decltype(&pcap_findalldevs) findalldevs = nullptr;
  decltype(&pcap_freealldevs) freealldevs = nullptr;
  decltype(&pcap_create) create = nullptr;
  decltype(&pcap_set_snaplen) set_snaplen = nullptr;
  decltype(&pcap_set_promisc) set_promisc = nullptr;
  decltype(&pcap_set_timeout) set_timeout = nullptr;
  decltype(&pcap_activate) activate = nullptr;
  decltype(&pcap_setnonblock) setnonblock = nullptr;
  decltype(&pcap_next_ex) next_ex = nullptr;
  decltype(&pcap_sendpacket) sendpacket = nullptr;
  decltype(&pcap_geterr) geterr = nullptr;
  decltype(&pcap_close) close = nullptr;
  // Optional, each with a fallback.
  decltype(&pcap_lib_version) lib_version = nullptr;
  decltype(&pcap_statustostr) statustostr = nullptr;
  decltype(&pcap_datalink) datalink = nullptr;
  decltype(&pcap_compile) compile = nullptr;
  decltype(&pcap_setfilter) setfilter = nullptr;
  decltype(&pcap_freecode) freecode = nullptr;
  decltype(&pcap_set_immediate_mode) set_immediate_mode = nullptr;
  decltype(&pcap_setmintocopy) setmintocopy = nullptr;
  decltype(&pcap_getevent) getevent = nullptr;
  decltype(&pcap_sendqueue_alloc) sendqueue_alloc = nullptr;
  decltype(&pcap_sendqueue_destroy) sendqueue_destroy = nullptr;
  decltype(&pcap_sendqueue_queue) sendqueue_queue = nullptr;
  decltype(&pcap_sendqueue_transmit) sendqueue_transmit = nullptr;
};

// Any function; converted to its real type once found.
using AnyFunction = void (*)();
// Looks up one exported function by name; null when the library has none.
using SymbolLookup = AnyFunction (*)(const char* name, void* context);

// Fills the table through `lookup`. Under Wine (`under_wine`) the calls that Wine exports only
// as stubs that end the process (pcap_setmintocopy, pcap_getevent, the send queue) are left
// null, so that their fallbacks run.
WpcapApi resolve_wpcap(SymbolLookup lookup, void* context, bool under_wine);

// The name of the first required function the table lacks, or null when it has them all.
const char* first_missing_required(const WpcapApi& api);

// What the operator is told to do wherever the capture library is missing or too old.
inline constexpr const char* kInstallNpcap = "install Npcap (https://npcap.com)";

// Whether the library whose pcap_lib_version() says `version` will do: Npcap 1.00 or later
// ("Npcap version 1.79, based on libpcap version 1.10.4"). WinPcap, an Npcap before 1.00 and
// a library that does not say are too old. Under Wine (`under_wine`), Wine's own wpcap.dll,
// which hands the calls to the host's libpcap ("libpcap version 1.10.3 ..."), does as well.
bool capture_library_will_do(std::string_view version, bool under_wine);

// How an opened adapter hands frames over as soon as they arrive: the library's immediate
// mode, else a minimum of 0 bytes to copy, else only when the 20 ms read time-out ends a block.
enum class Delivery { kImmediateMode, kMinToCopy, kReadTimeout };
// How a receive waits for a frame: on the capture's event handle, else by looking again after
// a short sleep (the adapter is non-blocking either way).
enum class Waiting { kEventHandle, kPoll };
// How a window of frames goes out: one send queue, else one send per frame.
enum class Sending { kSendQueue, kOneByOne };

struct WpcapPaths {
  Delivery delivery = Delivery::kReadTimeout;
  Waiting waiting = Waiting::kPoll;
  Sending sending = Sending::kOneByOne;
  bool kernel_filter = false;  // pcap_compile and pcap_setfilter are there
};

// The fastest paths the table offers. Opening an adapter may still step down one when a call
// fails (WpcapBackend reports the paths it took).
WpcapPaths choose_paths(const WpcapApi& api);

// "immediate mode, event handle, send queue, kernel filter" and so on, for logs and reports.
std::string describe(const WpcapPaths& paths);

// True when this process runs under Wine (ntdll.dll exports wine_get_version).
bool running_under_wine();

// wpcap.dll loaded into the process, with its table resolved.
class WpcapLibrary {
 public:
  ~WpcapLibrary();
  WpcapLibrary(const WpcapLibrary&) = delete;
  WpcapLibrary& operator=(const WpcapLibrary&) = delete;

  // Loads Npcap's wpcap.dll from its own folder (System32\Npcap), else the one in System32
  // (WinPcap, Npcap in its compatible mode, Wine's), never one beside the program. Null with
  // `error` set to a text for the operator when there is none or it lacks a required function.
  static std::unique_ptr<WpcapLibrary> load(std::string& error);

  const WpcapApi& api() const { return api_; }
  bool under_wine() const { return under_wine_; }

 private:
  WpcapLibrary(void* module, const WpcapApi& api, bool under_wine)
      : module_(module), api_(api), under_wine_(under_wine) {}
  void* module_;  // HMODULE
  WpcapApi api_;
  bool under_wine_;
};

}  // namespace skav::windows
