// skav_gui_tests [Class] [Qt Test's options]: runs the named test class (ctest runs each class
// so, side by side), or without a name every class in turn.

#include "gui_test_main.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace skav::gui::test {
namespace {

std::map<std::string, MakeTest>& registry() {
  static std::map<std::string, MakeTest> tests;
  return tests;
}

}  // namespace

bool register_test(const char* name, MakeTest make) {
  registry().emplace(name, make);
  return true;
}

}  // namespace skav::gui::test

int main(int argc, char** argv) {
  // As QTEST_MAIN sets a widgets test up.
  QApplication app(argc, argv);
  app.setAttribute(Qt::AA_Use96Dpi, true);
  const auto& tests = skav::gui::test::registry();

  std::vector<char*> args(argv, argv + argc);
  std::vector<std::string> chosen;
  if (args.size() > 1 && args[1][0] != '-') {
    if (tests.find(args[1]) == tests.end()) {
      std::fprintf(stderr, "No test class %s; the classes:\n", args[1]);
      for (const auto& [name, make] : tests) std::fprintf(stderr, "  %s\n", name.c_str());
      return 2;
    }
    chosen.push_back(args[1]);
    args.erase(args.begin() + 1);
  } else {
    for (const auto& [name, make] : tests) chosen.push_back(name);
  }

  int failed = 0;
  for (const std::string& name : chosen) {
    std::unique_ptr<QObject> test = tests.at(name)();
    if (QTest::qExec(test.get(), static_cast<int>(args.size()), args.data()) != 0) ++failed;
  }
  return failed == 0 ? 0 : 1;
}
