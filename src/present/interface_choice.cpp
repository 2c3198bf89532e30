#include "present/interface_choice.h"

#include "core/hex.h"

namespace skav::present {

bool pair_field_takes(char c) { return hex_value(c) >= 0 || static_cast<unsigned char>(c) < 0x20; }

PairsCheck check_pairs(const std::array<std::string, 6>& pairs) {
  PairsCheck check;
  check.digits.fill('0');
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const std::string& pair = pairs[i];
    // A short field would shift or cut the address: every field holds a whole byte.
    if (pair.size() != 2 || hex_value(pair[0]) < 0 || hex_value(pair[1]) < 0) {
      if (!check.bad_field) check.bad_field = static_cast<int>(i);
      continue;
    }
    check.digits[2 * i] = pair[0];
    check.digits[2 * i + 1] = pair[1];
  }
  return check;
}

std::array<std::string, 6> pairs_of(const MacDigits::Digits& digits) {
  std::array<std::string, 6> pairs;
  for (std::size_t i = 0; i < pairs.size(); ++i) pairs[i] = std::string(&digits[2 * i], 2);
  return pairs;
}

std::optional<int> interface_apply_index(const station::StationSnapshot& now, int chosen, bool keep_adapter) {
  if (now.run_status != station::RunStatus::kNoRun) return std::nullopt;
  return keep_adapter ? now.selected_index : chosen;
}

std::vector<std::string> adapter_labels(const link::AdapterList& adapters) {
  std::vector<std::string> labels = adapters.entries;
  for (std::size_t i = 0; i < labels.size() && i < adapters.friendly_names.size(); ++i) {
    const std::string& friendly = adapters.friendly_names[i];
    if (!friendly.empty() && friendly != labels[i] && friendly != adapters.names[i])
      labels[i] = friendly + " - " + labels[i];
  }
  return labels;
}

std::string port_label(const std::string& system_name, const std::vector<link::AdapterInfo>& adapters) {
  for (const link::AdapterInfo& adapter : adapters)
    if (adapter.name == system_name && !adapter.friendly_name.empty()) return adapter.friendly_name;
  return system_name;
}

std::vector<int> ticked_of(const link::AdapterList& adapters, const std::vector<std::string>& stored) {
  std::vector<int> ticked;
  for (const std::string& name : stored)
    if (int number = adapters.number_of(name); number > 0) ticked.push_back(number - 1);
  return ticked;
}

std::vector<std::string> ports_to_store(const link::AdapterList& adapters, bool several,
                                        const std::vector<int>& ticked) {
  std::vector<std::string> names;
  if (!several) return names;
  for (int i : ticked)
    if (i >= 0 && static_cast<std::size_t>(i) < adapters.names.size())
      names.push_back(adapters.names[static_cast<std::size_t>(i)]);
  return names;
}

}  // namespace skav::present
