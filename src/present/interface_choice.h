#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/link/link.h"
#include "core/mac_digits.h"
#include "core/station/station_events.h"

namespace skav::present {

// What the Network Interface dialog tells the operator.
inline constexpr char kPairsNeedTwoDigits[] = "Each field of the MAC address needs two hexadecimal digits.";
inline constexpr char kTickTwoPorts[] =
    "Tick two adapters or more for several ports, or switch Several ports off.";
inline constexpr char kRunHoldsTheAdapter[] =
    "A board is being programmed: change the interface when it is done.";

// Whether a pair field takes `c` as typed: a hexadecimal digit, or an editing key (a control
// character such as Backspace).
bool pair_field_takes(char c);

// The six two-digit fields of the dialog read as the address's digits.
struct PairsCheck {
  MacDigits::Digits digits{};  // complete only when `bad_field` is none
  std::optional<int> bad_field;  // the first field that does not hold two hexadecimal digits
};
PairsCheck check_pairs(const std::array<std::string, 6>& pairs);

// The fields' texts for `digits`: "00", "11", ...
std::array<std::string, 6> pairs_of(const MacDigits::Digits& digits);

// OK's command: the adapter index (into the list; -1 none) to post to the station with the
// digits, or none when a run holds the adapter now and the change is refused (tell the
// operator kRunHoldsTheAdapter and keep the dialog open). With several ports running
// (`keep_adapter`) the station keeps the adapter it has until the next start.
std::optional<int> interface_apply_index(const station::StationSnapshot& now, int chosen, bool keep_adapter);

// The adapters as the Interface dialog lists them: "Ethernet 2 - Intel(R) Ethernet" (the
// friendly name, then the list text) where the system gives a friendly name that the list text
// does not already say; else the list text alone.
std::vector<std::string> adapter_labels(const link::AdapterList& adapters);

// The name a port's tile shows for its adapter `system_name`: the friendly name the system
// gives that adapter in `adapters` ("Ethernet 2"), else the system name, which stays the key.
std::string port_label(const std::string& system_name, const std::vector<link::AdapterInfo>& adapters);

// The list indexes of the stored ports' adapters that are there now, in stored order.
std::vector<int> ticked_of(const link::AdapterList& adapters, const std::vector<std::string>& stored);
// The adapters (system names) to store as the ports of the next start: the ticked ones while
// Several ports is on, otherwise none (one port).
std::vector<std::string> ports_to_store(const link::AdapterList& adapters, bool several,
                                        const std::vector<int>& ticked);

}  // namespace skav::present
