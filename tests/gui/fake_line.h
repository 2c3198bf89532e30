#pragma once

#include "frontends/qt/main_window.h"
#include "support/fake_line.h"

namespace skav::gui::test {

using FakeLine = skav::test::FakeLine<MainWindow>;

}  // namespace skav::gui::test
