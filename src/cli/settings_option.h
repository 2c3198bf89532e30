#pragma once

#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

namespace skav::cli {

// Adds --settings FILE (the settings store to use instead of the default one).
void add_settings_option(CLI::App& command, std::string& path);

// The settings file to use: the one given, else SKAV_SETTINGS, else the per-user default.
// Simulated runs default to a store of their own beside the per-user one, so that a
// simulation never moves the real station's next MAC address.
std::filesystem::path settings_file(const std::string& given, bool simulated);

}  // namespace skav::cli
