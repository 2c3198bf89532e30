#include "board/sim_board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "core/link/discovery.h"
#include "core/transfer/command.h"
#include "core/transfer/image_download.h"
#include "core/transfer/station_harness.h"

namespace skav::board {
namespace {

using test::await_exchanges;
using test::BoardThread;
using test::sequence;
using test::StationSide;
using test::WireEvent;
using transfer::Channel;
using transfer::CommandHeader;
using transfer::Direction;
using transfer::ExchangeResult;
using transfer::Outcome;

using test::discover;
using test::no_pause;

CommandHeader header(std::uint8_t type, std::uint16_t command, std::uint32_t dst,
                     std::uint32_t length, std::uint32_t src = 0) {
  CommandHeader h;
  h.memory_type = type;
  h.command = command;
  h.source = src;
  h.destination = dst;
  h.length = length;
  return h;
}

ExchangeResult write(Channel& channel, std::uint8_t type, std::uint32_t dst,
                     std::vector<std::uint8_t> data, std::uint32_t src = 0) {
  return transfer::command_exchange(channel, header(type, transfer::kWrite, dst,
                                                    static_cast<std::uint32_t>(data.size()), src),
                                    data.data(), Direction::kSend);
}

ExchangeResult read(Channel& channel, std::uint8_t type, std::uint32_t dst,
                    std::vector<std::uint8_t>& out) {
  return transfer::command_exchange(
      channel, header(type, transfer::kRead, dst, static_cast<std::uint32_t>(out.size())),
      out.data(), Direction::kReceive);
}

// The station's side of a diagnostic relay: Text Blocks until the end marker.
struct Relay {
  Outcome outcome = Outcome::kOk;
  std::string text;
  int blocks = 0;
};

Relay relay(Channel& channel) {
  Relay result;
  std::uint8_t block[256] = {};
  for (int i = 0; i < 100000; ++i) {
    result.outcome = transfer::block_receive(channel, block, sizeof block);
    if (result.outcome != Outcome::kOk) return result;
    if (std::memcmp(block, kDiagEndMarker.data(), kDiagEndMarker.size()) == 0) return result;
    result.text += std::string(reinterpret_cast<const char*>(block),
                               strnlen(reinterpret_cast<const char*>(block), sizeof block));
    ++result.blocks;
  }
  return result;
}

class SimBoardTest : public ::testing::Test {
 protected:
  void start(BoardOptions options = {}) {
    board_ = std::make_unique<BoardThread>(station_.wire().board_end(), std::move(options));
  }
  SimBoard& board() { return board_->board(); }
  Channel channel(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return station_.channel(timeout);
  }
  std::vector<WireEvent> taken() {
    std::vector<WireEvent> out;
    for (const WireEvent& e : station_.recorder().events())
      if (!e.sent) out.push_back(e);
    return out;
  }

  StationSide station_;
  std::unique_ptr<BoardThread> board_;
};

TEST_F(SimBoardTest, AnswersAProbeWithASixtyByteReplyFromItsOwnAddress) {
  BoardOptions options;
  options.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  start(options);
  station_.link().set_target_mac({});
  ASSERT_TRUE(discover(station_.link()));
  EXPECT_EQ(link::format_mac(station_.link().target_mac()), "02:11:22:33:44:55");
  std::vector<WireEvent> replies = taken();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].frame.size(), link::kMinFrame);
  EXPECT_EQ(replies[0].ether_type, link::kEtherReply);
  EXPECT_EQ(board().probes_answered(), 1);
}

TEST_F(SimBoardTest, EveryFrameItSendsIsATargetDataFrameOfAtLeastSixtyBytes) {
  start();
  Channel ch = channel();
  ASSERT_TRUE(write(ch, transfer::kNand, 0, {1, 2, 3}).success);
  std::vector<std::uint8_t> back(3);
  ASSERT_TRUE(read(ch, transfer::kNand, 0, back).success);
  std::vector<WireEvent> frames = taken();
  ASSERT_EQ(frames.size(), 6u);  // ack, ack, status; ack, data, status
  for (const WireEvent& e : frames) {
    EXPECT_EQ(e.ether_type, link::kEtherTargetData);
    EXPECT_GE(e.frame.size(), link::kMinFrame);
  }
  EXPECT_EQ(frames[4].payload_length(), 46u) << "3 data bytes padded to the minimum";
  std::vector<std::uint8_t> status(frames[5].payload(), frames[5].payload() + 64);
  std::vector<std::uint8_t> expected = {0x51, 0x37, 0x02, 0x73};
  expected.resize(64, 0);
  EXPECT_EQ(status, expected);
  EXPECT_EQ(back, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(SimBoardTest, StoresAtTheDestinationAddressPerMemoryTypeAndReadsFFElsewhere) {
  start();
  Channel ch = channel();
  std::vector<std::uint8_t> image = test::pattern(5000);
  ASSERT_TRUE(write(ch, transfer::kNand, 0x5000, image, 0x1234).success);
  EXPECT_EQ(board().memory(transfer::kNand, 0x5000, 5000), image);
  EXPECT_EQ(board().memory(transfer::kNand, 0x1234, 4), std::vector<std::uint8_t>(4, 0xff));
  EXPECT_EQ(board().memory(transfer::kSpi, 0x5000, 4), std::vector<std::uint8_t>(4, 0xff));

  std::vector<std::uint8_t> back(6000);
  ASSERT_TRUE(read(ch, transfer::kNand, 0x5000, back).success);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), back.begin()));
  EXPECT_TRUE(std::all_of(back.begin() + 5000, back.end(), [](auto b) { return b == 0xff; }));
  std::vector<std::uint8_t> other(100);
  ASSERT_TRUE(read(ch, transfer::kLpc, 0x5000, other).success);
  EXPECT_EQ(other, std::vector<std::uint8_t>(100, 0xff));
}

TEST_F(SimBoardTest, KeepsTheLastEnvironmentBlockTheLastHeaderAndItsCounts) {
  start();
  Channel ch = channel();
  std::vector<std::uint8_t> env(65536, 0xff);
  env[0] = 0x12;
  ASSERT_TRUE(write(ch, transfer::kSpi, 0x70000, env).success);
  ASSERT_TRUE(write(ch, transfer::kNand, 0x0, {9}).success);
  std::vector<std::uint8_t> lpc_env = {7, 7, 7};
  ASSERT_TRUE(write(ch, transfer::kLpc, 0x100, lpc_env, 5).success);
  await_exchanges(board(), 3);
  std::optional<EnvironmentBlock> block = board().environment();
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->memory_type, transfer::kLpc);
  EXPECT_EQ(block->address, 0x100u);
  EXPECT_EQ(block->bytes, lpc_env);
  std::optional<CommandHeader> last = board().last_header();
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->source, 5u);
  EXPECT_EQ(last->length, 3u);
  BoardStats stats = board().stats();
  EXPECT_EQ(stats.exchanges, 3);
  EXPECT_EQ(stats.writes, 3);
  EXPECT_EQ(stats.headers, 3);
}

TEST_F(SimBoardTest, AnUnknownMemoryTypeOrCommandReportsFailure) {
  start();
  Channel ch = channel();
  std::vector<std::uint8_t> data = {1, 2};
  ExchangeResult bad_type = transfer::command_exchange(ch, header(9, transfer::kWrite, 0, 2),
                                                       data.data(), Direction::kSend);
  EXPECT_EQ(bad_type.outcome, Outcome::kOk);
  EXPECT_FALSE(bad_type.success);
  ExchangeResult bad_command =
      transfer::command_exchange(ch, header(transfer::kNand, 7, 0, 2), data.data(),
                                 Direction::kSend);
  EXPECT_EQ(bad_command.outcome, Outcome::kOk);
  EXPECT_FALSE(bad_command.success);
  EXPECT_TRUE(write(ch, transfer::kNand, 0, data).success) << "the board is still in step";
}

TEST_F(SimBoardTest, AProbeBeforeAnyExchangeIsAnsweredAndOneAfterItFinishesTheBoard) {
  start();
  ASSERT_TRUE(discover(station_.link()));
  ASSERT_TRUE(discover(station_.link()));
  EXPECT_FALSE(board().finished());
  Channel ch = channel();
  ASSERT_TRUE(write(ch, transfer::kNand, 0, {1}).success);
  EXPECT_EQ(link::find_target(station_.link(), no_pause), 0);
  ASSERT_TRUE(board().wait_until([](const SimBoard& b) { return b.finished(); },
                                 std::chrono::seconds(10)));
  EXPECT_TRUE(board().finished_on_probe());
  EXPECT_EQ(board().probes_answered(), 2);
  EXPECT_EQ(link::find_target(station_.link(), no_pause), 0) << "a finished board stays quiet";
}

TEST_F(SimBoardTest, AStartedDiagImageAnswersTheNextProbeAndPrintsItselfInTextBlocks) {
  start();
  std::string text;
  for (int i = 0; i < 30; ++i) text += "line " + std::to_string(i) + " of the diagnostic\r\n";
  std::vector<std::uint8_t> image(text.begin(), text.end());
  Channel ch = channel();
  ExchangeResult exe = transfer::command_exchange(
      ch, header(transfer::kMem, transfer::kExe, 0, static_cast<std::uint32_t>(image.size())),
      image.data(), Direction::kSend);
  ASSERT_TRUE(exe.success);
  ASSERT_TRUE(discover(station_.link()));
  station_.recorder().clear();
  Relay result = relay(ch);
  ASSERT_EQ(result.outcome, Outcome::kOk);
  EXPECT_EQ(result.text, text);
  int expected_blocks = static_cast<int>((text.size() + 254) / 255);
  EXPECT_EQ(result.blocks, expected_blocks);

  std::vector<WireEvent> blocks = taken();
  ASSERT_EQ(static_cast<int>(blocks.size()), expected_blocks + 1);
  for (const WireEvent& e : blocks) EXPECT_LE(e.payload_length(), 256u);
  EXPECT_EQ(blocks[0].payload_length(), 256u);
  EXPECT_EQ(blocks[0].payload()[255], 0);
  const WireEvent& marker = blocks.back();
  EXPECT_EQ(marker.payload_length(), 46u) << "18 bytes padded to the Ethernet minimum";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(marker.payload()), 18),
            std::string("QM7302-DIAG-END\r\n", 17) + '\0');
  // Every block waited for the station's acknowledgement.
  std::vector<std::string> seq = sequence(station_.recorder().events());
  for (std::size_t i = 0; i < seq.size(); i += 2) EXPECT_EQ(seq[i + 1], "ACK") << i;

  ASSERT_TRUE(board().wait_until([](const SimBoard& b) { return b.finished(); },
                                 std::chrono::seconds(10)));
  EXPECT_FALSE(board().finished_on_probe());
  EXPECT_TRUE(board().diag_ran());
  EXPECT_EQ(board().stats().text_blocks, expected_blocks);
}

TEST_F(SimBoardTest, TheDiagTextOptionReplacesTheImagesOwnBytesAndAnEmptyTextIsJustTheMarker) {
  BoardOptions options;
  options.diag_text = "memory test passed\r\n";
  start(options);
  std::vector<std::uint8_t> image = {0x7f, 'E', 'L', 'F'};
  Channel ch = channel();
  ASSERT_TRUE(transfer::command_exchange(ch, header(transfer::kMem, transfer::kExe, 0, 4),
                                         image.data(), Direction::kSend)
                  .success);
  ASSERT_TRUE(discover(station_.link()));
  Relay result = relay(ch);
  EXPECT_EQ(result.outcome, Outcome::kOk);
  EXPECT_EQ(result.text, "memory test passed\r\n");

  StationSide other;
  BoardThread empty(other.wire().board_end());
  Channel ch2 = other.channel();
  ASSERT_TRUE(transfer::command_exchange(ch2, header(transfer::kMem, transfer::kExe, 0, 0),
                                         nullptr, Direction::kSend)
                  .success);
  ASSERT_TRUE(discover(other.link()));
  Relay nothing = relay(ch2);
  EXPECT_EQ(nothing.outcome, Outcome::kOk);
  EXPECT_EQ(nothing.blocks, 0);
}

TEST_F(SimBoardTest, AnExeToAnotherMemoryStoresTheDataAndStartsNothing) {
  start();
  Channel ch = channel();
  std::vector<std::uint8_t> data = {5, 6, 7};
  ASSERT_TRUE(transfer::command_exchange(ch, header(transfer::kNand, transfer::kExe, 0x10, 3),
                                         data.data(), Direction::kSend)
                  .success);
  await_exchanges(board(), 1);
  EXPECT_FALSE(board().diag_ran());
  EXPECT_EQ(board().memory(transfer::kNand, 0x10, 3), data);
  EXPECT_TRUE(write(ch, transfer::kNand, 0, {1}).success) << "still takes commands";
}

// Misbehaviour switches.

TEST_F(SimBoardTest, PaddedAndOversizedAcknowledgementsReachTheStationAsSuch) {
  for (AckStyle style : {AckStyle::kPadded, AckStyle::kOversized}) {
    StationSide station;
    BoardOptions options;
    options.faults.ack_style = style;
    BoardThread board(station.wire().board_end(), options);
    Channel ch = station.channel();
    std::vector<std::uint8_t> image = test::pattern(22529);
    ASSERT_TRUE(write(ch, transfer::kNand, 0, image).success);
    std::string ack = style == AckStyle::kPadded ? "T46" : "T200";
    std::vector<std::string> expected = {"H80", ack};
    for (int i = 0; i < 16; ++i) expected.push_back("H1408");
    expected.insert(expected.end(), {ack, "H1", ack, "T64", "ACK"});
    EXPECT_EQ(sequence(station.recorder().events()), expected);
  }
}

TEST_F(SimBoardTest, ForeignFramesAndRandomPayloadsDoNotDisturbAWalk) {
  BoardOptions options;
  options.faults.foreign_frames = true;
  options.faults.random_payloads = true;
  options.faults.foreign_ether_type = link::kEtherReply;
  start(options);
  std::vector<std::uint8_t> image = test::pattern(30000);
  Channel ch = channel();
  ASSERT_TRUE(write(ch, transfer::kNand, 0x100, image).success);
  ExchangeResult verify = transfer::read_back_compare(
      ch, header(transfer::kNand, transfer::kWrite, 0x100, 30000), image.data());
  EXPECT_EQ(verify.outcome, Outcome::kOk);
  EXPECT_TRUE(verify.success);
  std::vector<WireEvent> frames = taken();
  int foreign = 0;
  std::set<std::size_t> ack_lengths;
  for (const WireEvent& e : frames) {
    if (e.ether_type == link::kEtherReply) ++foreign;
    if (e.ether_type == link::kEtherTargetData && e.payload_length() != 1408)
      ack_lengths.insert(e.payload_length());
  }
  EXPECT_EQ(foreign * 2, static_cast<int>(frames.size())) << "one foreign frame before each";
  EXPECT_GT(ack_lengths.size(), 3u) << "acknowledgements of random lengths";
}

TEST_F(SimBoardTest, SilenceAfterTheNthFrameReceivedOrSent) {
  {
    StationSide station;
    BoardOptions options;
    options.faults.silent_after_received = 1;
    BoardThread board(station.wire().board_end(), options);
    ASSERT_TRUE(discover(station.link()));
    Channel ch = station.channel(std::chrono::milliseconds(200));
    EXPECT_EQ(write(ch, transfer::kNand, 0, {1}).outcome, Outcome::kTimeout);
    EXPECT_TRUE(board.board().silent());
  }
  {
    StationSide station;
    BoardOptions options;
    options.faults.silent_after_sent = 2;
    BoardThread board(station.wire().board_end(), options);
    ASSERT_TRUE(discover(station.link()));
    Channel ch = station.channel(std::chrono::milliseconds(200));
    EXPECT_EQ(write(ch, transfer::kNand, 0, {1}).outcome, Outcome::kTimeout);
    EXPECT_EQ(sequence(station.recorder().events()),
              (std::vector<std::string>{"S32785", "x", "H80", "T64", "H1"}));
  }
}

TEST_F(SimBoardTest, LostOrDuplicatedFramesAndLostAcknowledgementsBreakTheExchange) {
  auto run = [](BoardFaults faults, bool read_back) {
    StationSide station;
    BoardOptions options;
    options.faults = faults;
    BoardThread board(station.wire().board_end(), options);
    Channel ch = station.channel(std::chrono::milliseconds(200));
    std::vector<std::uint8_t> image = test::pattern(3000);
    ExchangeResult w = write(ch, transfer::kNand, 0, image);
    if (!read_back || w.outcome != Outcome::kOk) return w;
    return transfer::read_back_compare(ch, header(transfer::kNand, transfer::kWrite, 0, 3000),
                                       image.data());
  };
  BoardFaults lose_ack;
  lose_ack.lose_ack = 1;
  EXPECT_EQ(run(lose_ack, false).outcome, Outcome::kTimeout);
  BoardFaults lose_received;
  lose_received.lose_received_data_frame = 1;
  EXPECT_EQ(run(lose_received, false).outcome, Outcome::kTimeout);
  BoardFaults lose_sent;
  lose_sent.lose_sent_data_frame = 2;
  EXPECT_EQ(run(lose_sent, true).outcome, Outcome::kTimeout);
  BoardFaults duplicate;
  duplicate.duplicate_data_frame = 1;
  ExchangeResult dup = run(duplicate, true);
  EXPECT_EQ(dup.outcome, Outcome::kOk);
  EXPECT_FALSE(dup.success) << "the frame count places every later chunk wrong";
  BoardFaults healthy;
  ExchangeResult good = run(healthy, true);
  EXPECT_EQ(good.outcome, Outcome::kOk);
  EXPECT_TRUE(good.success);
}

TEST_F(SimBoardTest, SilenceAfterTheDiagStartOrInTheMiddleOfItsText) {
  for (SilentPhase phase : {SilentPhase::kAfterDiagStart, SilentPhase::kMidDiagText}) {
    StationSide station;
    BoardOptions options;
    options.faults.silent_phase = phase;
    BoardThread board(station.wire().board_end(), options);
    Channel ch = station.channel(std::chrono::milliseconds(200));
    std::vector<std::uint8_t> image(1000, 'a');
    ASSERT_TRUE(transfer::command_exchange(ch, header(transfer::kMem, transfer::kExe, 0, 1000),
                                           image.data(), Direction::kSend)
                    .success);
    if (phase == SilentPhase::kAfterDiagStart) {
      EXPECT_EQ(link::find_target(station.link(), no_pause), 0);
      EXPECT_EQ(link::find_target(station.link(), no_pause), 0);
    } else {
      ASSERT_TRUE(discover(station.link()));
      Relay result = relay(ch);
      EXPECT_EQ(result.outcome, Outcome::kTimeout);
      EXPECT_EQ(result.blocks, 1);
    }
    EXPECT_TRUE(board.board().silent());
  }
}

TEST_F(SimBoardTest, AStalledExchangeIsGivenUpSoAFreshHeaderIsTakenAsOne) {
  BoardOptions options;
  options.stall_reset = std::chrono::milliseconds(50);
  start(options);
  // A header announcing 3000 bytes, then the station goes away.
  auto bytes = transfer::encode_header(header(transfer::kNand, transfer::kWrite, 0, 3000));
  station_.link().send_data_frame(bytes.data(), transfer::kHeaderSize);
  std::uint8_t ack[64];
  int taken = 0;
  for (int i = 0; i < 500 && taken <= 0; ++i) taken = station_.link().receive_data_frame(ack, 64);
  ASSERT_GT(taken, 0) << "the header was not acknowledged";
  // Let the stall time pass: what comes next is a fresh exchange, not the missing data.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  Channel ch = channel();
  EXPECT_TRUE(write(ch, transfer::kSpi, 0x40, {4, 5, 6}).success);
  EXPECT_EQ(board().memory(transfer::kSpi, 0x40, 3), (std::vector<std::uint8_t>{4, 5, 6}));
}

TEST_F(SimBoardTest, FailingStatusSwitches) {
  BoardOptions options;
  options.faults.fail_writes = true;
  start(options);
  Channel ch = channel();
  std::vector<std::uint8_t> data = {1, 2, 3};
  EXPECT_FALSE(write(ch, transfer::kNand, 0, data).success);
  std::vector<std::uint8_t> back(3);
  EXPECT_TRUE(read(ch, transfer::kNand, 0, back).success);
  EXPECT_EQ(back, data) << "a failing write still keeps its data";
}

}  // namespace
}  // namespace skav::board
