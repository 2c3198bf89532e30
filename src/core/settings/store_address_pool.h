#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include "core/settings/address_pool.h"
#include "core/settings/pool_hold.h"
#include "core/settings/settings_store.h"

namespace skav::settings {

// The address pool kept as MACHWID in a settings store: the next address. Reserving an address
// stores the one after it before the reservation returns, so a station that dies mid-run never
// hands an address out twice. The only code that reads or writes MACHWID.
class StoreAddressPool : public AddressPool {
 public:
  explicit StoreAddressPool(SettingsStore& store) : store_(store) {}

  int read_next(Log* log, MacDigits::Digits& digits) override;
  int write_next(Log* log, const MacDigits::Digits& digits) override;
  // The next address is `wanted` when exact, else the stored MACHWID (`wanted` when none can be
  // read); MACHWID becomes that address plus one. As with every MACHWID write of the station,
  // a store that cannot be written has said so in the log, and the board is programmed all the
  // same.
  PoolResult reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                     const std::string& port, Reservation& out) override;
  // The production records keep the outcome; the store has nothing to add.
  Status finish(const Reservation&, const BoardOutcome&) override { return {}; }
  std::optional<MacDigits::Digits> known_next() const override;

 private:
  SettingsStore& store_;
  mutable std::mutex mutex_;  // one reservation at a time among the ports of a process
  std::optional<MacDigits::Digits> known_;
};

}  // namespace skav::settings
