#include "app/options.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/cli_options.h"
#include "support/temp_dir.h"

namespace skav::app {
namespace {

// One face's parser built from the table, as the face builds it.
struct Parsed {
  bool ok = false;
  std::string error;
  SetupOptions options;
};

Parsed parse(unsigned face, const std::vector<std::string>& args) {
  Parsed parsed;
  CLI::App command{"test", "skav"};
  add_station_options(command, face, parsed.options);
  std::vector<const char*> argv{"skav"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  try {
    command.parse(static_cast<int>(argv.size()), argv.data());
    parsed.ok = true;
  } catch (const CLI::ParseError& error) {
    parsed.error = error.what();
  }
  return parsed;
}

std::string help(unsigned face) {
  SetupOptions options;
  CLI::App command{"test", "skav"};
  add_station_options(command, face, options);
  return command.help();
}

constexpr unsigned kFaces[] = {kCliRun, kQtWindow, kWin32Window};

TEST(StationOptions, EveryRowIsOfferedNamedOnceAndSetsSomething) {
  std::set<std::string_view> names;
  for (const StationOption& option : station_options()) {
    SCOPED_TRACE(std::string(option.name));
    EXPECT_NE(option.faces, 0u);
    EXPECT_TRUE(names.insert(option.name).second);
    if (!option.alias.empty()) {
      EXPECT_TRUE(names.insert(option.alias).second);
    }
    EXPECT_FALSE(option.help.empty());
    EXPECT_NE(option.set, nullptr);
    // A window complains in the option's own words when a value does not fit.
    if (option.kind == ValueKind::kNumber || option.kind == ValueKind::kNumberOrFallback ||
        option.kind == ValueKind::kFolder) {
      EXPECT_TRUE(option.complaint.starts_with(option.name)) << option.complaint;
    }
    for (unsigned face : kFaces)
      EXPECT_EQ(find_station_option(option.name, face) == &option, (option.faces & face) != 0);
  }
}

TEST(StationOptions, EachFaceShowsItsOwnRowsButTheHiddenInItsHelp) {
  for (unsigned face : kFaces) {
    const std::string text = help(face);
    for (const StationOption& option : station_options()) {
      const bool shown = (option.faces & face) != 0 && !option.hidden;
      EXPECT_EQ(text.find(std::string(option.name) + " ") != std::string::npos ||
                    text.find(std::string(option.name) + ",") != std::string::npos,
                shown)
          << option.name << " on face " << face;
      if (shown) {
        EXPECT_NE(text.find(std::string(option.help)), std::string::npos) << option.name;
      }
    }
  }
}

TEST(StationOptions, TheCommandLineSetsEachField) {
  test::TempDir dir;
  const std::string folder = dir.path().string();
  struct Case {
    std::vector<std::string> args;
    std::function<bool(const SetupOptions&)> holds;
  };
  const std::vector<Case> cases = {
      {{}, [](const SetupOptions& o) {
         return o.simulate == 0 && o.ports == 1 && o.interfaces.empty() && !o.barcode &&
                o.timeout == std::chrono::seconds(30) && o.dir == "." && o.boards == 0;
       }},
      {{"--interface", "eth1", "--interface", "eth2"},
       [](const SetupOptions& o) { return o.interfaces == std::vector<std::string>{"eth1", "eth2"}; }},
      {{"--simulate"}, [](const SetupOptions& o) { return o.simulate == 3; }},
      {{"--simulate", "5", "--ports", "4"},
       [](const SetupOptions& o) { return o.simulate == 5 && o.ports == 4; }},
      {{"--pool", "file:pool.reg"}, [](const SetupOptions& o) { return o.pool == "file:pool.reg"; }},
      {{"--barcode"}, [](const SetupOptions& o) { return o.barcode == true; }},
      {{"--no-barcode"}, [](const SetupOptions& o) { return o.barcode == false; }},
      {{"--mac", "00005A000010"}, [](const SetupOptions& o) { return o.mac == "00005A000010"; }},
      {{"--boards", "7"}, [](const SetupOptions& o) { return o.boards == 7; }},
      {{"--settings", "/tmp/s.reg"}, [](const SetupOptions& o) { return o.settings == "/tmp/s.reg"; }},
      {{"--timeout", "7"}, [](const SetupOptions& o) { return o.timeout == std::chrono::seconds(7); }},
      {{"-C", folder}, [&](const SetupOptions& o) { return o.dir == dir.path(); }},
      {{"--directory", folder}, [&](const SetupOptions& o) { return o.dir == dir.path(); }},
      {{"--tick-ms", "5"}, [](const SetupOptions& o) { return o.tick == std::chrono::milliseconds(5); }},
  };
  for (const Case& c : cases) {
    Parsed parsed = parse(kCliRun, c.args);
    std::string args;
    for (const std::string& arg : c.args) args += arg + " ";
    ASSERT_TRUE(parsed.ok) << args << parsed.error;
    EXPECT_TRUE(c.holds(parsed.options)) << args;
  }
}

TEST(StationOptions, EachFaceRefusesWhatDoesNotFit) {
  struct Case {
    unsigned face;
    std::vector<std::string> args;
    const char* error;  // CLI11's words
  };
  for (const Case& c : std::vector<Case>{
           {kCliRun, {"--simulate", "--interface", "eth1"}, "excludes"},
           {kCliRun, {"--ports", "2"}, "requires --simulate"},
           {kCliRun, {"--simulate", "--ports", "17"}, "not in range"},
           {kCliRun, {"--timeout", "0"}, "not in range"},
           {kCliRun, {"--timeout", "0.5"}, "not in range"},
           {kCliRun, {"--barcode", "--no-barcode"}, "excludes"},
           {kCliRun, {"--boards", "0"}, "not in range"},
           {kCliRun, {"--simulate", "0"}, "not in range"},
           {kCliRun, {"-C", "/nonexistent/line"}, "Directory does not exist"},
           {kCliRun, {"--tick-ms", "1001"}, "not in range"},
           {kCliRun, {"--simulate-corrupt-read", "1"}, "not expected"},
           {kWin32Window, {"--pool", "file:p.reg"}, "not expected"},
           {kWin32Window, {"--tick-ms", "5"}, "not expected"},
       }) {
    Parsed parsed = parse(c.face, c.args);
    std::string args;
    for (const std::string& arg : c.args) args += arg + " ";
    EXPECT_FALSE(parsed.ok) << args;
    EXPECT_NE(parsed.error.find(c.error), std::string::npos) << args << ": " << parsed.error;
  }
  // What the Windows window takes.
  Parsed window = parse(kWin32Window, {"--simulate", "--timeout", "9", "--settings", "s.reg"});
  ASSERT_TRUE(window.ok) << window.error;
  EXPECT_EQ(window.options.simulate, 3);
  EXPECT_EQ(window.options.timeout, std::chrono::seconds(9));
}

TEST(StationOptions, AValueFitsItsKind) {
  test::TempDir dir;
  struct Case {
    const char* option;
    std::string value;
    bool fits;
  };
  for (const Case& c : std::vector<Case>{
           {"--timeout", "1", true}, {"--timeout", "86400", true}, {"--timeout", "86401", false},
           {"--timeout", "0", false}, {"--timeout", "-1", false}, {"--timeout", "soon", false},
           {"--timeout", "7.0", false}, {"--timeout", " 7", false}, {"--timeout", "", false},
           {"--simulate", "1", true}, {"--simulate", "0", false},
           {"--ports", "16", true}, {"--ports", "17", false},
           {"--simulate-fault-port", "0", true}, {"--simulate-fault-port", "-1", false},
           {"-C", dir.path().string(), true}, {"-C", (dir / "missing").string(), false},
           {"--pool", "anything", true}, {"--barcode", "", true}}) {
    const StationOption* option = find_station_option(c.option, kCliRun | kQtWindow);
    ASSERT_NE(option, nullptr) << c.option;
    std::string complaint = check_value(*option, c.value);
    EXPECT_EQ(complaint.empty(), c.fits) << c.option << " '" << c.value << "'";
    if (!c.fits) {
      EXPECT_EQ(complaint, option->complaint);
    }
  }
}

TEST(StationOptions, OptionsTogether) {
  struct Case {
    std::set<std::string_view> given;
    unsigned face;
    const char* complaint;
  };
  for (const Case& c : std::vector<Case>{
           {{"--interface", "--simulate"}, kQtWindow, "--interface and --simulate exclude each other."},
           {{"--ports"}, kQtWindow, "--ports needs --simulate (real ports: --interface once per port)."},
           {{"--ports", "--simulate"}, kQtWindow, ""},
           {{"--barcode", "--no-barcode"}, kCliRun, "--no-barcode and --barcode exclude each other."},
           {{"--simulate", "--timeout"}, kWin32Window, ""},
           {{"--ports"}, kWin32Window, "--ports needs --simulate (real ports: --interface once per port)."},
           {{}, kQtWindow, ""}})
    EXPECT_EQ(check_together(c.given, c.face), c.complaint);

  SetupOptions many;
  many.interfaces.assign(kMaxPorts + 1, "eth");
  EXPECT_EQ(check_setup(many), "At most 16 ports.");
  many.interfaces.resize(kMaxPorts);
  EXPECT_EQ(check_setup(many), "");
  SetupOptions fault;
  fault.ports = 2;
  fault.faults_port = 2;
  EXPECT_EQ(check_setup(fault), "--simulate-fault-port needs a port from 0 to --ports minus 1.");
  fault.faults_port = 1;
  EXPECT_EQ(check_setup(fault), "");
}

}  // namespace
}  // namespace skav::app
