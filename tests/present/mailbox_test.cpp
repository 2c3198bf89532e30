// The hand-over from the station's thread to the window's: call order for the log, the latest
// snapshot only, every finished board, and one wake-up per batch.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "present/mailbox.h"
#include "present/line_mailbox.h"

namespace skav::present {
namespace {

std::vector<LogOperation> drained(LogMailbox& box) {
  std::vector<LogOperation> operations;
  box.drain([&](const LogOperation& operation) { operations.push_back(operation); });
  return operations;
}

TEST(LogMailbox, KeepsCallOrderAndJoinsAppendsInARow) {
  int wakes = 0;
  LogMailbox box([&] { return ++wakes, true; });
  box.append("Input MAC");
  box.append(" Address : 1");
  box.erase_last();
  box.erase_last();
  box.append("2\r\n");
  EXPECT_EQ(wakes, 1);  // one wake-up until the window's thread drains
  const std::vector<LogOperation> expected = {
      {false, "Input MAC Address : 1"}, {true, ""}, {true, ""}, {false, "2\r\n"}};
  EXPECT_EQ(drained(box), expected);
  EXPECT_TRUE(drained(box).empty());

  box.append("next");
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(drained(box), (std::vector<LogOperation>{{false, "next"}}));
}

TEST(LogMailbox, AWakeUpThatWasNotDeliveredIsAskedForAgain) {
  std::vector<bool> answers = {false, true};
  int wakes = 0;
  LogMailbox box([&] { return answers[static_cast<std::size_t>(wakes++)]; });
  box.append("a");
  box.append("b");  // the first wake-up failed: this one asks again
  box.append("c");
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(drained(box), (std::vector<LogOperation>{{false, "abc"}}));
}

TEST(LogMailbox, AWakeUpThatDrainsAtOnceLeavesTheNextOneDue) {
  std::vector<LogOperation> applied;
  LogMailbox* self = nullptr;
  LogMailbox box([&] {
    self->drain([&](const LogOperation& operation) { applied.push_back(operation); });
    return true;
  });
  self = &box;
  box.append("a");
  box.erase_last();
  EXPECT_EQ(applied, (std::vector<LogOperation>{{false, "a"}, {true, ""}}));
}

TEST(LogMailbox, WhatTheWindowHandsInWhileApplyingWaitsForTheNextDrain) {
  int wakes = 0;
  LogMailbox box([&] { return ++wakes, true; });
  box.append("first");
  std::vector<LogOperation> applied;
  box.drain([&](const LogOperation& operation) {
    applied.push_back(operation);
    box.append("echo");
  });
  EXPECT_EQ(applied, (std::vector<LogOperation>{{false, "first"}}));
  EXPECT_EQ(wakes, 2);  // the echo asked for its own drain
  EXPECT_EQ(drained(box), (std::vector<LogOperation>{{false, "echo"}}));
}

TEST(LogMailbox, AppendsFromSeveralThreadsKeepEachThreadsOrder) {
  LogMailbox box([] { return true; });
  auto writer = [&box](char tag) {
    for (int i = 0; i < 1000; ++i) box.append(std::string(1, tag) + std::to_string(i) + ";");
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  std::string all;
  for (const LogOperation& operation : drained(box)) all += operation.text;
  for (char tag : {'a', 'b'}) {
    std::size_t at = 0;
    for (int i = 0; i < 1000; ++i) {
      const std::size_t found = all.find(std::string(1, tag) + std::to_string(i) + ";", at);
      ASSERT_NE(found, std::string::npos) << tag << i;
      at = found + 1;
    }
  }
}

using Box = Mailbox<int, std::string>;

TEST(Mailbox, TheLatestSnapshotWinsAndEveryEventArrives) {
  int wakes = 0;
  Box box([&] { return ++wakes, true; });
  box.put_snapshot(std::make_shared<const int>(1));
  box.put_event("first");
  box.put_snapshot(std::make_shared<const int>(2));
  box.put_event("second");
  EXPECT_EQ(wakes, 1);
  Box::Batch batch = box.take();
  ASSERT_NE(batch.snapshot, nullptr);
  EXPECT_EQ(*batch.snapshot, 2);
  EXPECT_EQ(batch.events, (std::vector<std::string>{"first", "second"}));

  batch = box.take();  // nothing new
  EXPECT_EQ(batch.snapshot, nullptr);
  EXPECT_TRUE(batch.events.empty());

  box.put_event("third");
  EXPECT_EQ(wakes, 2);
  batch = box.take();
  EXPECT_EQ(batch.snapshot, nullptr);
  EXPECT_EQ(batch.events, (std::vector<std::string>{"third"}));
}

TEST(Mailbox, WithoutAWakeUpItStillHoldsWhatArrived) {
  Box box(nullptr);
  box.put_snapshot(std::make_shared<const int>(7));
  box.put_snapshot(std::make_shared<const int>(8));
  EXPECT_EQ(*box.take().snapshot, 8);
}

TEST(StationMailbox, CarriesSnapshotsAndFinishedBoards) {
  int wakes = 0;
  StationMailbox box([&] { return ++wakes, true; });
  station::StationEvents& events = box;
  auto first = std::make_shared<station::StationSnapshot>();
  first->sequence = 1;
  auto second = std::make_shared<station::StationSnapshot>();
  second->sequence = 2;
  events.on_snapshot(first);
  station::BoardRecord record;
  record.overall = station::Verdict::kFail;
  events.on_board_finished(record);
  events.on_snapshot(second);
  EXPECT_EQ(wakes, 1);
  StationMailbox::Box::Batch batch = box.take();
  ASSERT_NE(batch.snapshot, nullptr);
  EXPECT_EQ(batch.snapshot->sequence, 2u);
  ASSERT_EQ(batch.events.size(), 1u);
  EXPECT_EQ(batch.events[0].overall, station::Verdict::kFail);
}

TEST(LineMailbox, HandsTheWindowTheLatestLineSnapshotOncePerWakeUp) {
  int wakes = 0;
  LineMailbox box([&] { return ++wakes, true; });
  line::LineEvents& events = box;
  EXPECT_EQ(box.take(), nullptr) << "nothing arrived yet";
  for (std::uint64_t sequence : {1u, 2u, 3u}) {
    auto snapshot = std::make_shared<line::LineSnapshot>();
    snapshot->sequence = sequence;
    events.on_snapshot(snapshot);
  }
  EXPECT_EQ(wakes, 1);
  std::shared_ptr<const line::LineSnapshot> taken = box.take();
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->sequence, 3u);
  EXPECT_EQ(box.take(), nullptr) << "a snapshot is handed over once";
  events.on_snapshot(std::make_shared<line::LineSnapshot>());
  EXPECT_EQ(wakes, 2) << "the next snapshot after a take asks for its own drain";
}

}  // namespace
}  // namespace skav::present
