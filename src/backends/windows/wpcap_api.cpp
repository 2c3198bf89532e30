#include "backends/windows/wpcap_api.h"

#include <windows.h>

namespace skav::windows {

namespace {

template <typename Function>
void bind(Function& slot, SymbolLookup lookup, void* context, const char* name) {
  // A generic function pointer converts to any other function pointer type.
  slot = reinterpret_cast<Function>(lookup(name, context));
}

AnyFunction module_lookup(const char* name, void* module) {
  return reinterpret_cast<AnyFunction>(GetProcAddress(static_cast<HMODULE>(module), name));
}

std::string system_message(DWORD code) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = n > 0 ? std::string(text, n) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message;
}

}  // namespace

WpcapApi resolve_wpcap(SymbolLookup lookup, void* context, bool under_wine) {
  WpcapApi api;
  bind(api.findalldevs, lookup, context, "pcap_findalldevs");
  bind(api.freealldevs, lookup, context, "pcap_freealldevs");
  bind(api.create, lookup, context, "pcap_create");
  bind(api.set_snaplen, lookup, context, "pcap_set_snaplen");
  bind(api.set_promisc, lookup, context, "pcap_set_promisc");
  bind(api.set_timeout, lookup, context, "pcap_set_timeout");
  bind(api.activate, lookup, context, "pcap_activate");
  bind(api.setnonblock, lookup, context, "pcap_setnonblock");
  bind(api.next_ex, lookup, context, "pcap_next_ex");
  bind(api.sendpacket, lookup, context, "pcap_sendpacket");
  bind(api.geterr, lookup, context, "pcap_geterr");
  bind(api.close, lookup, context, "pcap_close");
  bind(api.lib_version, lookup, context, "pcap_lib_version");
  bind(api.statustostr, lookup, context, "pcap_statustostr");
  bind(api.datalink, lookup, context, "pcap_datalink");
  bind(api.compile, lookup, context, "pcap_compile");
  bind(api.setfilter, lookup, context, "pcap_setfilter");
  bind(api.freecode, lookup, context, "pcap_freecode");
  bind(api.set_immediate_mode, lookup, context, "pcap_set_immediate_mode");
  if (!under_wine) {
    // Wine exports these only as stubs that abort the process when called.
    bind(api.setmintocopy, lookup, context, "pcap_setmintocopy");
    bind(api.getevent, lookup, context, "pcap_getevent");
    bind(api.sendqueue_alloc, lookup, context, "pcap_sendqueue_alloc");
    bind(api.sendqueue_destroy, lookup, context, "pcap_sendqueue_destroy");
    bind(api.sendqueue_queue, lookup, context, "pcap_sendqueue_queue");
    bind(api.sendqueue_transmit, lookup, context, "pcap_sendqueue_transmit");
  }
  return api;
}

bool capture_library_will_do(std::string_view version, bool under_wine) {
  constexpr std::string_view kNpcap = "Npcap version ";
  if (version.starts_with(kNpcap)) {
    version.remove_prefix(kNpcap.size());
    int major = 0;
    std::size_t digits = 0;
    for (; digits < version.size() && version[digits] >= '0' && version[digits] <= '9'; ++digits) {
      if (major > 1000) return true;  // a major far beyond any known: newer, not broken
      major = major * 10 + (version[digits] - '0');
    }
    return digits > 0 && major >= 1;
  }
  return under_wine && version.starts_with("libpcap version ");
}

const char* first_missing_required(const WpcapApi& api) {
  struct Required {
    bool present;
    const char* name;
  };
  const Required required[] = {
      {api.findalldevs != nullptr, "pcap_findalldevs"},
      {api.freealldevs != nullptr, "pcap_freealldevs"},
      {api.create != nullptr, "pcap_create"},
      {api.set_snaplen != nullptr, "pcap_set_snaplen"},
      {api.set_promisc != nullptr, "pcap_set_promisc"},
      {api.set_timeout != nullptr, "pcap_set_timeout"},
      {api.activate != nullptr, "pcap_activate"},
      {api.setnonblock != nullptr, "pcap_setnonblock"},
      {api.next_ex != nullptr, "pcap_next_ex"},
      {api.sendpacket != nullptr, "pcap_sendpacket"},
      {api.geterr != nullptr, "pcap_geterr"},
      {api.close != nullptr, "pcap_close"},
  };
  for (const Required& r : required)
    if (!r.present) return r.name;
  return nullptr;
}

WpcapPaths choose_paths(const WpcapApi& api) {
  WpcapPaths paths;
  if (api.set_immediate_mode != nullptr) {
    paths.delivery = Delivery::kImmediateMode;
  } else if (api.setmintocopy != nullptr) {
    paths.delivery = Delivery::kMinToCopy;
  }
  if (api.getevent != nullptr) paths.waiting = Waiting::kEventHandle;
  // The queue is only usable with all four of its calls.
  if (api.sendqueue_alloc != nullptr && api.sendqueue_destroy != nullptr &&
      api.sendqueue_queue != nullptr && api.sendqueue_transmit != nullptr) {
    paths.sending = Sending::kSendQueue;
  }
  paths.kernel_filter =
      api.compile != nullptr && api.setfilter != nullptr && api.freecode != nullptr;
  return paths;
}

std::string describe(const WpcapPaths& paths) {
  std::string text;
  switch (paths.delivery) {
    case Delivery::kImmediateMode: text = "immediate mode"; break;
    case Delivery::kMinToCopy: text = "minimum to copy 0"; break;
    case Delivery::kReadTimeout: text = "read time-out"; break;
  }
  text += paths.waiting == Waiting::kEventHandle ? ", event handle" : ", polling";
  text += paths.sending == Sending::kSendQueue ? ", send queue" : ", one send per frame";
  text += paths.kernel_filter ? ", kernel filter" : ", no kernel filter";
  return text;
}

bool running_under_wine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

WpcapLibrary::~WpcapLibrary() { FreeLibrary(static_cast<HMODULE>(module_)); }

std::unique_ptr<WpcapLibrary> WpcapLibrary::load(std::string& error) {
  // Npcap keeps its DLLs in a folder of their own unless installed in its WinPcap-compatible
  // mode; loading by full path with the altered search order finds its Packet.dll beside it.
  HMODULE module = nullptr;
  char system_dir[MAX_PATH];
  UINT n = GetSystemDirectoryA(system_dir, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    std::string npcap = std::string(system_dir) + "\\Npcap\\wpcap.dll";
    module = LoadLibraryExA(npcap.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  // System32 only: a wpcap.dll planted beside the program or in the working folder is not taken.
  if (module == nullptr)
    module = LoadLibraryExA("wpcap.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) {
    error = "wpcap.dll could not be loaded (" + system_message(GetLastError()) +
            "): " + kInstallNpcap + " to use a network adapter";
    return nullptr;
  }
  bool wine = running_under_wine();
  WpcapApi api = resolve_wpcap(&module_lookup, module, wine);
  if (const char* missing = first_missing_required(api)) {
    FreeLibrary(module);
    error = std::string("wpcap.dll lacks ") + missing + ": " + kInstallNpcap;
    return nullptr;
  }
  const char* version = api.lib_version != nullptr ? api.lib_version() : nullptr;
  if (version == nullptr || !capture_library_will_do(version, wine)) {
    FreeLibrary(module);
    error = std::string("the capture library (") + (version != nullptr ? version : "wpcap.dll") +
            ") is older than Npcap 1.00: " + kInstallNpcap + " to use a network adapter";
    return nullptr;
  }
  return std::unique_ptr<WpcapLibrary>(new WpcapLibrary(module, api, wine));
}

}  // namespace skav::windows
