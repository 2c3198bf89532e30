#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/platform.h"
#include "frontends/cli/commands.h"
#include "frontends/cli/settings_option.h"
#include "frontends/cli/terminal.h"
#include "core/platform/utf8.h"
#include "core/config/environment.h"
#include "core/config/section_table.h"
#include "core/log.h"
#include "core/mac_digits.h"
#include "core/station/plan.h"

namespace skav::cli {

namespace {

struct EnvOptions {
  std::string dir = ".";
  std::string mac;
  std::string settings;
  std::string output;
};

int run_env(const EnvOptions& options) {
  StderrLog log;  // the image builder's and the settings store's warnings
  MacDigits::Digits digits = MacDigits::kDefault;
  if (!options.mac.empty()) {
    if (!MacDigits::parse(options.mac, digits)) {
      print(stderr, "--mac %s: the MAC address must be 12 hexadecimal digits\n",
                   options.mac.c_str());
      return 1;
    }
  } else {
    // This command stores nothing: it only looks, creating neither a store nor its lock file.
    std::string found;
    // A run refuses such a value too: no image is built for it.
    if (app::peek_machwid(options.settings, digits, &found) == settings::kBadValue) {
      std::string shown;
      for (char c : found) shown += (c >= 0x20 && c < 0x7F) ? c : '?';
      print(stderr, "The stored MAC address %s is not 12 hexadecimal digits; give one with --mac\n",
                   shown.c_str());
      return 1;
    }
  }

  const std::filesystem::path folder(options.dir);
  config::SectionTable table;
  config::read_section_table(table, folder / "config.ini");
  const station::RunPlan plan = station::make_plan(table, folder);
  const station::PlanStep& step = plan.step(station::StepSlot::kEnvironment);
  const config::SectionRecord& record = step.record;

  auto image = std::make_unique<config::EnvironmentImage>();
  config::build_environment_image(&log, record, digits, folder, *image);

  std::ofstream out(platform::path_from_utf8(options.output), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image->bytes.data()),
            static_cast<std::streamsize>(image->bytes.size()));
  out.close();
  if (!out) {
    print(stderr, "%s: could not write the image\n", options.output.c_str());
    return 1;
  }

  const auto& b = image->bytes;
  std::uint32_t crc = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                      static_cast<std::uint32_t>(b[2]) << 16 |
                      static_cast<std::uint32_t>(b[3]) << 24;
  print(stdout, "MAC address: %.12s\n", digits.data());
  print(stdout, "Used Length: %u\n", static_cast<unsigned>(image->used_length));
  print(stdout, "CRC: 0x%08X\n", static_cast<unsigned>(crc));
  if (image->has_mac_variable) {
    print(stdout, "Next MAC: %.12s\n", image->next_mac.data());
  } else {
    print(stdout, "Next MAC: %.12s (no MAC variable: the address stays)\n", digits.data());
  }
  if (!step.used) print(stdout, "uboot_cfg: %s: a run would not send this image\n", step.skip_reason.c_str());
  return 0;
}

}  // namespace

void add_env_command(CLI::App& app, int& exit_code) {
  auto* cmd = app.add_subcommand("env",
                                 "Build the environment image a run would send, into a "
                                 "file; sends nothing and stores nothing");
  auto options = std::make_shared<EnvOptions>();
  cmd->add_option("-C,--directory", options->dir,
                  "Folder holding config.ini and the files it names");
  cmd->add_option("--mac", options->mac,
                  "MAC Digits: 12 hexadecimal digits (default: the stored "
                  "MACHWID, else 001122334455)");
  add_settings_option(*cmd, options->settings);
  cmd->add_option("-o,--output", options->output, "File that receives the 65536-byte image")
      ->required();
  cmd->callback([options, &exit_code] { exit_code = run_env(*options); });
}

}  // namespace skav::cli
