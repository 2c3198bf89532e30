#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace skav::windows::gui {

// The window's own per-user choices (not the station's settings), kept in the registry under
// HKEY_CURRENT_USER\<key>: the log's font size, the sound, the operator panel's fold and the
// ports the Interface dialog chose for the next start. A value never stored, or one the
// registry cannot give, reads as the fallback; a store that fails leaves the choice for this
// run only.
class WindowChoices {
 public:
  static constexpr const char* kKey = "Software\\SKAV\\skav-gui";

  explicit WindowChoices(std::string key = kKey) : key_(std::move(key)) {}

  // The log's font size in points (present::kLogPoints at first), within the zoom's bounds.
  int log_points() const;
  void set_log_points(int points) const;
  // A tone when a board fails or times out (on unless switched off).
  bool sound() const;
  void set_sound(bool on) const;
  // The operator panel unfolded (unless folded).
  bool panel_shown() const;
  void set_panel_shown(bool shown) const;
  // The adapters (system names) to run as ports at the next start; fewer than two: one port on
  // the stored NetIF (fewer than two are not kept).
  std::vector<std::string> ports() const;
  void set_ports(const std::vector<std::string>& adapters) const;

  // Removes every choice (a test's clean start).
  void forget() const;
  const std::string& key() const { return key_; }

 private:
  DWORD number(const char* group, const char* name, DWORD fallback) const;
  void set_number(const char* group, const char* name, DWORD value) const;

  std::string key_;
};

}  // namespace skav::windows::gui
