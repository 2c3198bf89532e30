#pragma once

// The window's test classes are one program (Qt and Qt Test are compiled once for all of
// them): each class registers itself with SKAV_GUI_TEST in place of QTEST_MAIN.

#include <QObject>

#include <memory>

namespace skav::gui::test {

using MakeTest = std::unique_ptr<QObject> (*)();

// Registers a test class under its name; the value only serves the static initializer.
bool register_test(const char* name, MakeTest make);

}  // namespace skav::gui::test

#define SKAV_GUI_TEST(Class)                                                               \
  static const bool skav_gui_test_##Class = ::skav::gui::test::register_test(             \
      #Class, []() -> std::unique_ptr<QObject> { return std::make_unique<Class>(); })
