#pragma once

#include <cstddef>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frontends/cli/terminal.h"
#include "core/log.h"
#include "core/station/station_events.h"

namespace skav::cli {

// Standard output shared by the ports of one station: every port's lines, each prefixed with
// "<port>: ". A line that another port interrupts before its line end (a prompt waiting for
// the operator, "Find the UBOOT CONFIG file.....") is ended there and taken up again, prefix
// and text so far, when its port writes on. On a terminal, board text is escaped.
class PrefixedOutput {
 public:
  explicit PrefixedOutput(std::FILE* out = stdout);
  void append(const std::string& port, std::string_view text);
  void erase_last(const std::string& port);

 private:
  void write(std::string_view text);
  std::mutex mutex_;
  std::FILE* out_;
  bool terminal_;
  std::optional<std::string> open_;        // the port whose line stands unfinished on the output
  std::map<std::string, std::string> line_;  // each port's unfinished line so far
};

// One port's log among several: byte for byte into its own file (as a one-port station writes
// standard output), and prefixed onto the shared standard output.
class PortLog : public Log {
 public:
  // Opens `file` to append to it: a restart goes on after the last run's log, adding nothing
  // but the station's own bytes. ok() says whether that worked.
  PortLog(std::string port, const std::string& file, PrefixedOutput& out);
  ~PortLog() override;
  PortLog(const PortLog&) = delete;
  PortLog& operator=(const PortLog&) = delete;
  bool ok() const { return file_ != nullptr; }
  void append(std::string_view text) override;
  void erase_last() override;

 private:
  std::string port_;
  std::FILE* file_;
  std::unique_ptr<StdoutLog> file_log_;
  PrefixedOutput& out_;
};

// Sends the terminal's characters to the port whose MAC prompt opened first. An entry, once
// begun, goes to its port until Enter; then the next open prompt takes the next characters.
// With one port every character goes to it, prompt or not. Thread-safe.
class KeyRouter {
 public:
  explicit KeyRouter(std::size_t ports) : ports_(ports), awaiting_(ports, false) {}
  // A port's snapshot: whether its entry is pending, and how many characters it holds.
  void on_entry(std::size_t port, bool pending, int counter);
  // The port that takes character `c`; none when no prompt is open (with several ports).
  std::optional<std::size_t> route(char c);

 private:
  std::mutex mutex_;
  std::size_t ports_;
  std::deque<std::size_t> open_;        // ports with an open prompt, first opened first
  std::optional<std::size_t> current_;  // the port whose entry is being typed
  std::vector<bool> awaiting_;          // Enter sent; the port's answer not yet seen
};

// A port's events: tells the key router of its MAC entry, then hands on to `inner`.
class PortEvents : public station::StationEvents {
 public:
  PortEvents(std::size_t index, KeyRouter& router, station::StationEvents& inner)
      : index_(index), router_(router), inner_(inner) {}
  void on_snapshot(std::shared_ptr<const station::StationSnapshot> snapshot) override {
    router_.on_entry(index_, snapshot->entry_pending, snapshot->entry_counter);
    inner_.on_snapshot(std::move(snapshot));
  }
  void on_board_finished(const station::BoardRecord& record) override {
    inner_.on_board_finished(record);
  }

 private:
  std::size_t index_;
  KeyRouter& router_;
  station::StationEvents& inner_;
};

}  // namespace skav::cli
