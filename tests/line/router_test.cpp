// Which port takes the operator's typing: a terminal's rule (the prompt that opened first, an
// entry staying with its port until Enter) and a window's rule (the shown port while it asks,
// else the one that asked longest), one router for both.

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "line/router.h"

namespace skav::line {
namespace {

// One step of a script: a port's snapshot, a character typed at the terminal, or a window
// showing a port, each with what it must give.
struct Step {
  enum class Kind { kEntry, kKey, kShown };
  Kind kind;
  std::size_t port = 0;  // kEntry: the port; kShown: the port shown
  bool pending = false;  // kEntry
  int counter = 0;       // kEntry
  char c = 0;            // kKey
  // kEntry: whether the ports that ask changed; kKey: the port the key goes to (none: nowhere);
  // kShown: the port that takes the typing.
  std::optional<std::size_t> port_out;
  bool changed = false;
  std::string why;
};

Step entry(std::size_t port, bool pending, int counter, bool changed, std::string why = {}) {
  return {Step::Kind::kEntry, port, pending, counter, 0, std::nullopt, changed, std::move(why)};
}
Step key(char c, std::optional<std::size_t> to, std::string why = {}) {
  return {Step::Kind::kKey, 0, false, 0, c, to, false, std::move(why)};
}
Step shown(std::size_t port, std::size_t typing, std::string why = {}) {
  return {Step::Kind::kShown, port, false, 0, 0, typing, false, std::move(why)};
}

struct Script {
  const char* name;
  std::size_t ports;
  std::vector<Step> steps;
};

const std::vector<Script>& scripts() {
  static const std::vector<Script> kScripts = {
      {"terminal: the prompt that opened first, kept until Enter",
       3,
       {key('1', std::nullopt, "no prompt open: the key goes nowhere"),
        entry(2, true, 0, true, "port 2 asks first"),
        entry(0, true, 0, true),
        key('0', 2u),
        entry(1, true, 0, true),
        entry(2, true, 1, false, "port 2 shows the first character"),
        key('1', 2u, "an entry begun stays with its port"),
        key(13, 2u),
        entry(2, true, 2, false, "old news until the Enter is seen"),
        key('a', 0u, "then the next prompt in the order they opened"),
        entry(2, false, 0, false, "port 2 took its entry"),
        key(13, 0u),
        entry(0, true, 0, true, "port 0 asks again (the entry was not 12 digits): behind 1"),
        key('b', 1u),
        key(13, 1u),
        entry(1, false, 0, false),
        key('c', 0u),
        entry(0, false, 0, false, "closed by a start-up meanwhile"),
        key(13, std::nullopt)}},
      {"terminal: with one port every key goes to it",
       1,
       {key('x', 0u), key(13, 0u), entry(0, true, 0, true), key('y', 0u)}},
      {"window: the shown port while it asks, else the one that asked longest",
       3,
       {shown(1, 1, "no port asks: the shown one stays"),
        entry(2, true, 0, true),
        entry(2, true, 0, false, "a snapshot that changes nothing of it"),
        entry(0, true, 0, true),
        shown(1, 2, "2 asked first"),
        shown(0, 0, "the shown port asks itself: it keeps the typing"),
        entry(2, false, 0, true, "2's address was entered"),
        shown(2, 0),
        entry(2, true, 0, true, "2 asks again for its next board: behind 0"),
        shown(1, 0),
        entry(0, false, 0, true),
        entry(2, false, 0, true),
        entry(1, false, 0, false),
        shown(1, 1)}},
      {"window: one port is always the one shown",
       1,
       {shown(0, 0), entry(0, true, 0, true), shown(0, 0)}},
      {"a snapshot of a port the line does not have changes nothing",
       2,
       {entry(5, true, 0, false), key('a', std::nullopt), shown(1, 1)}},
  };
  return kScripts;
}

TEST(Router, TerminalAndWindowRules) {
  for (const Script& script : scripts()) {
    SCOPED_TRACE(script.name);
    Router router(script.ports);
    for (std::size_t i = 0; i < script.steps.size(); ++i) {
      const Step& step = script.steps[i];
      SCOPED_TRACE("step " + std::to_string(i) + (step.why.empty() ? "" : ": " + step.why));
      switch (step.kind) {
        case Step::Kind::kEntry:
          EXPECT_EQ(router.on_entry(step.port, step.pending, step.counter), step.changed);
          break;
        case Step::Kind::kKey:
          EXPECT_EQ(router.route(step.c), step.port_out);
          break;
        case Step::Kind::kShown:
          EXPECT_EQ(router.port_for_typing(step.port), *step.port_out);
          break;
      }
    }
  }
}

TEST(Router, TheNextPortIsTheOneTheNextKeyGoesTo) {
  Router router(3);
  EXPECT_EQ(router.next_port(), std::nullopt);
  router.on_entry(1, true, 0);
  router.on_entry(2, true, 0);
  EXPECT_EQ(router.next_port(), 1u);
  EXPECT_EQ(router.route('0'), 1u);
  EXPECT_EQ(router.next_port(), 1u) << "the entry begun keeps it";
  EXPECT_TRUE(router.asks(1));
  EXPECT_EQ(router.route(13), 1u);
  EXPECT_EQ(router.next_port(), 2u);
  EXPECT_EQ(std::vector<std::size_t>(router.open().begin(), router.open().end()),
            std::vector<std::size_t>{2});
}

}  // namespace
}  // namespace skav::line
