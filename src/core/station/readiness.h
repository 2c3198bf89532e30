#pragma once

#include <filesystem>
#include <optional>

#include "core/settings/address_pool.h"
#include "core/station/plan.h"
#include "core/station/station_events.h"

namespace skav::station {

// What the station needs before it takes a board, looked at without sending anything: the
// first thing that stands in the way, as the operator should read it, or none. Looks at `dir`'s
// config.ini (there, readable, naming a step to send), every file a step takes (readable whole
// within the step's limit), a description file that is named, and the records file (writable).
std::optional<StationFault> find_station_fault(const std::filesystem::path& dir);

// The same for a plan already made from `dir`'s config.ini (config.ini and the records file
// are not looked at).
std::optional<StationFault> plan_fault(const RunPlan& plan);

// The address pool's failed check as a station fault: its message, and what to do about it.
StationFault pool_fault(const settings::PoolResult<>& check);

}  // namespace skav::station
