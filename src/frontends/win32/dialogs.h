#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "core/mac_digits.h"

namespace skav::windows::gui {

// The station's icon (a board with its chip and Ethernet socket), drawn at `size` pixels.
HICON make_app_icon(int size);

// The About box (dialog 100), modal.
void show_about_box(HINSTANCE instance, HWND owner, HICON icon);

// What the Network Interface dialog shows and what it does on OK.
struct InterfaceChoice {
  std::vector<std::string> adapters;
  int selected = 0;  // outside the list: nothing selected
  MacDigits::Digits digits = MacDigits::kDefault;
  // The Several Ports section, where offered: a station on each ticked adapter from the next
  // start. `ticked`: indexes into the list, in list order (in: ticked at the start; before
  // apply: what the operator ticked). `several`: the section is on (it starts on with two
  // ticked or more); the list's adapter is then the first ticked, and OK needs two ticked.
  // `running_several`: several ports run now and keep their adapters until the next start, so
  // the list keeps the first port's adapter.
  bool ports_offered = false;
  bool running_several = false;
  std::vector<int> ticked;
  bool several = false;
  // Carries out the choice: adapter index (-1 none) and digits. False: refused, stay open.
  std::function<bool(int index, const MacDigits::Digits& digits)> apply;
};

// The Network Interface dialog (dialog 133), modal. Its six fields take two hexadecimal
// digits each; OK with a field that holds fewer, or an apply that refuses, keeps the dialog
// open with a message. True when it ended with OK.
bool run_interface_dialog(HINSTANCE instance, HWND owner, InterfaceChoice& choice);

}  // namespace skav::windows::gui
