#pragma once

#include <windows.h>

#include "frontends/win32/dialogs.h"

namespace skav::windows::gui {

// The Network Interface dialog's Several Ports section: a check box that switches it on, the
// adapters with a tick box each, and a note; made below the dialog's own controls, which
// grows to hold it.
constexpr const char* kSeveralPorts = "Several ports: a station on each ticked adapter";
constexpr const char* kPortsNote =
    "The ports change at the next start of skav-gui. The first ticked adapter is the one stored "
    "for a single port.";

// Makes the section in `dialog` with `choice`'s adapters and ticks. False: the system refused.
bool add_ports_section(HWND dialog, const InterfaceChoice& choice);
// Reads the section's state into `choice` (`several`, `ticked`).
void read_ports_section(HWND dialog, InterfaceChoice& choice);
// After a change in the section: the adapter list follows the first ticked adapter while the
// section is on, and is disabled then or while several ports run.
void follow_ticks(HWND dialog, const InterfaceChoice& choice);

}  // namespace skav::windows::gui
