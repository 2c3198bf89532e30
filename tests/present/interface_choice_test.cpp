// The Network Interface dialog's rules: what the pair fields take, when OK is refused, what is
// posted to the station and which ports are stored.

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "present/interface_choice.h"

namespace skav::present {
namespace {

TEST(InterfaceChoice, PairFieldsTakeHexDigitsAndEditingKeys) {
  for (char c : std::string("0123456789abcdefABCDEF\b\r\x1b\x7f"))
    EXPECT_EQ(pair_field_takes(c), c != '\x7f') << static_cast<int>(c);
  for (char c : std::string("gGxz :-.\xA0\xE4")) EXPECT_FALSE(pair_field_takes(c)) << static_cast<int>(c);
}

TEST(InterfaceChoice, OkNeedsTwoHexDigitsInEveryField) {
  struct Case {
    std::array<std::string, 6> pairs;
    std::optional<int> bad_field;
    std::string digits;  // when every field is good
  };
  const std::vector<Case> cases = {
      {{"00", "11", "ab", "33", "44", "55"}, std::nullopt, "0011ab334455"},
      {{"FF", "ff", "A0", "c9", "14", "C8"}, std::nullopt, "FFffA0c914C8"},
      {{"00", "1", "22", "33", "44", "55"}, 1, ""},
      {{"00", "11", "22", "33", "44", ""}, 5, ""},
      {{"0g", "11", "2", "33", "44", "55"}, 0, ""},  // the first bad field
      {{"00", "11", "22", "333", "44", "55"}, 3, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pairs[0] + c.pairs[1] + c.pairs[2] + c.pairs[3] + c.pairs[4] + c.pairs[5]);
    PairsCheck check = check_pairs(c.pairs);
    EXPECT_EQ(check.bad_field, c.bad_field);
    if (!c.bad_field) {
      EXPECT_EQ(MacDigits::text(check.digits), c.digits);
      EXPECT_EQ(pairs_of(check.digits), c.pairs);
    }
  }
}

TEST(InterfaceChoice, ARunRefusesTheChangeAndSeveralPortsKeepTheirAdapter) {
  struct Case {
    const char* name;
    station::RunStatus run_status;
    int selected;
    int chosen;
    bool keep;
    std::optional<int> posted;
  };
  const std::vector<Case> cases = {
      {"idle: the chosen adapter", station::RunStatus::kNoRun, 0, 2, false, 2},
      {"idle: none chosen", station::RunStatus::kNoRun, 1, -1, false, -1},
      {"several ports: the station's own", station::RunStatus::kNoRun, 1, 2, true, 1},
      {"a run holds the adapter", station::RunStatus::kRunning, 0, 2, false, std::nullopt},
      {"a run, several ports", station::RunStatus::kRunning, 1, 2, true, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    station::StationSnapshot now;
    now.run_status = c.run_status;
    now.selected_index = c.selected;
    EXPECT_EQ(interface_apply_index(now, c.chosen, c.keep), c.posted);
  }
}

TEST(InterfaceChoice, StoredPortsTickTheirAdaptersAndOnlySeveralAreStored) {
  link::AdapterList adapters;
  adapters.count = 3;
  adapters.entries = {"Intel PRO/1000", "Realtek", "USB Ethernet"};
  adapters.names = {"eth0", "eth1", "usb0"};
  EXPECT_EQ(ticked_of(adapters, {"usb0", "gone", "eth0"}), (std::vector<int>{2, 0}));
  EXPECT_TRUE(ticked_of(adapters, {}).empty());

  EXPECT_EQ(ports_to_store(adapters, true, {0, 2}), (std::vector<std::string>{"eth0", "usb0"}));
  EXPECT_TRUE(ports_to_store(adapters, false, {0, 2}).empty());
  EXPECT_EQ(ports_to_store(adapters, true, {1, 7, -1}), (std::vector<std::string>{"eth1"}));
}

TEST(InterfaceChoice, AdaptersAreListedByTheNameTheSystemShowsThenTheirListText) {
  link::AdapterList list;
  list.count = 4;
  list.names = {"\\Device\\NPF_{A}", "\\Device\\NPF_{B}", "eth0", "\\Device\\NPF_{D}"};
  list.entries = {"Intel(R) Ethernet", "Ethernet 2", "eth0", "Realtek USB NIC"};
  // The second's list text is already its friendly name; Linux's friendly name is its name;
  // the fourth has none.
  list.friendly_names = {"Ethernet \xe5\xb7\xa5\xe5\x8e\x82", "Ethernet 2", "eth0", ""};
  EXPECT_EQ(adapter_labels(list),
            (std::vector<std::string>{"Ethernet \xe5\xb7\xa5\xe5\x8e\x82 - Intel(R) Ethernet",
                                      "Ethernet 2", "eth0", "Realtek USB NIC"}));
  // A list made without friendly names keeps its texts.
  list.friendly_names.clear();
  EXPECT_EQ(adapter_labels(list), list.entries);
}

// A tile names its port's adapter as the system shows it; the system name stays where the
// system gives no friendly name or does not list the adapter.
TEST(PortLabel, IsTheListedAdaptersFriendlyNameElseTheSystemName) {
  const std::vector<link::AdapterInfo> adapters = {
      {"\\Device\\NPF_{A1}", "Intel(R) Ethernet", "Ethernet \xe5\xb7\xa5\xe5\x8e\x82"},
      {"\\Device\\NPF_{B2}", "Realtek USB NIC", ""},
      {"eth0", "", "eth0"},
  };
  const struct {
    const char* system_name;
    const char* shown;
  } cases[] = {
      {"\\Device\\NPF_{A1}", "Ethernet \xe5\xb7\xa5\xe5\x8e\x82"},
      {"\\Device\\NPF_{B2}", "\\Device\\NPF_{B2}"},
      {"eth0", "eth0"},
      {"\\Device\\NPF_{C3}", "\\Device\\NPF_{C3}"},  // gone since the list was made
      {"Ethernet \xe5\xb7\xa5\xe5\x8e\x82", "Ethernet \xe5\xb7\xa5\xe5\x8e\x82"},  // already friendly
  };
  for (const auto& c : cases) EXPECT_EQ(port_label(c.system_name, adapters), c.shown) << c.system_name;
  EXPECT_EQ(port_label("eth1", {}), "eth1");
}

}  // namespace
}  // namespace skav::present
