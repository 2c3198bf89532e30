#pragma once

#include "frontends/win32/main_window.h"
#include "support/fake_line.h"

namespace skav::windows::gui {

// The window's thread hands everything in: pump() shows it.
using FakeLine = test::FakeLine<MainWindow>;

}  // namespace skav::windows::gui
