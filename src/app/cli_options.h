#pragma once

#include <CLI/CLI.hpp>

#include "app/options.h"

namespace skav::app {

// Adds to `command` the station options (options.h) that `face` offers, each setting its field
// of `out` when given: values are checked by CLI11's own checks for the option's range (its
// messages), and options that exclude or need each other are told to CLI11. `out` must outlive
// the parse.
void add_station_options(CLI::App& command, unsigned face, SetupOptions& out);

}  // namespace skav::app
