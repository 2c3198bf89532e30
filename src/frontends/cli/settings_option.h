#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace skav::cli {

// Adds --settings FILE (the settings store to use instead of the default one).
void add_settings_option(CLI::App& command, std::string& path);

}  // namespace skav::cli
