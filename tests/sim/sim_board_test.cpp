#include "sim/sim_board.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "core/link/discovery.h"
#include "core/station/steps.h"
#include "core/transfer/command.h"
#include "support/link_rig.h"

namespace skav::sim {
namespace {

using test::Bytes;
using test::LinkRig;
using test::sequence;
using test::WireEvent;
using transfer::Channel;
using transfer::CommandHeader;
using transfer::Direction;
using transfer::ExchangeResult;
using transfer::Outcome;

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

ExchangeResult write(Channel& channel, std::uint8_t type, std::uint32_t dst, Bytes data,
                     std::uint32_t src = 0) {
  return transfer::command_exchange(channel, header(type, transfer::kWrite, dst,
                                                    static_cast<std::uint32_t>(data.size()), src),
                                    data.data(), Direction::kSend);
}

ExchangeResult read(Channel& channel, std::uint8_t type, std::uint32_t dst, Bytes& out) {
  return transfer::command_exchange(
      channel, header(type, transfer::kRead, dst, static_cast<std::uint32_t>(out.size())),
      out.data(), Direction::kReceive);
}

// Reads the region back and compares it with `expected`: success only when the status reports
// it and every byte came back.
ExchangeResult read_back(Channel& channel, std::uint8_t type, std::uint32_t dst,
                         const Bytes& expected) {
  bool equal = false;
  ExchangeResult result = transfer::command_exchange_compare(
      channel, header(type, transfer::kRead, dst, static_cast<std::uint32_t>(expected.size())),
      expected.data(), equal);
  result.success = result.success && equal;
  return result;
}

ExchangeResult start_diag(Channel& channel, Bytes image) {
  return transfer::command_exchange(
      channel, header(transfer::kMem, transfer::kExe, 0, static_cast<std::uint32_t>(image.size())),
      image.data(), Direction::kSend);
}

bool discover(link::Link& link) { return link::find_target(link) == 1; }

// A simulated board on the far end of a Link of the test's own.
class SimBoardTest : public ::testing::Test {
 protected:
  SimBoard& start(BoardOptions options = {}) { return *(board_ = &rig_.plug(std::move(options))); }
  SimBoard& board() { return *board_; }
  Channel channel(std::chrono::milliseconds timeout = transfer::kDefaultTimeout) {
    return rig_.channel(timeout);
  }

  LinkRig rig_;
  SimBoard* board_ = nullptr;
};

TEST_F(SimBoardTest, AnswersAProbeWithASixtyByteReplyFromItsOwnAddress) {
  BoardOptions options;
  options.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
  start(options);
  rig_.link().set_target_mac({});
  ASSERT_TRUE(discover(rig_.link()));
  EXPECT_EQ(link::format_mac(rig_.link().target_mac()), "02:11:22:33:44:55");
  std::vector<WireEvent> replies = rig_.taken();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].frame.size(), link::kMinFrame);
  EXPECT_EQ(replies[0].ether_type, link::kEtherReply);
  EXPECT_EQ(board().probes_answered(), 1);
}

TEST_F(SimBoardTest, EveryFrameItSendsIsATargetDataFrameOfAtLeastSixtyBytes) {
  start();
  Channel ch = channel();
  ASSERT_TRUE(write(ch, transfer::kNand, 0, {1, 2, 3}).success);
  Bytes back(3);
  ASSERT_TRUE(read(ch, transfer::kNand, 0, back).success);
  std::vector<WireEvent> frames = rig_.taken();
  ASSERT_EQ(frames.size(), 6u);  // ack, ack, status; ack, data, status
  for (const WireEvent& e : frames) {
    EXPECT_EQ(e.ether_type, link::kEtherTargetData);
    EXPECT_GE(e.frame.size(), link::kMinFrame);
  }
  EXPECT_EQ(frames[4].payload_length(), 46u) << "3 data bytes padded to the minimum";
  Bytes expected = {0x51, 0x37, 0x02, 0x73};
  expected.resize(64, 0);
  EXPECT_EQ(frames[5].payload_bytes(), expected);
  EXPECT_EQ(back, (Bytes{1, 2, 3}));
}

TEST_F(SimBoardTest, StoresAtTheDestinationAddressPerMemoryTypeAndReadsFFElsewhere) {
  start();
  Channel ch = channel();
  Bytes image = test::pattern(5000);
  ASSERT_TRUE(write(ch, transfer::kNand, 0x5000, image, 0x1234).success);
  EXPECT_EQ(board().memory(transfer::kNand, 0x5000, 5000), image);
  EXPECT_EQ(board().memory(transfer::kNand, 0x1234, 4), Bytes(4, 0xff));
  EXPECT_EQ(board().memory(transfer::kSpi, 0x5000, 4), Bytes(4, 0xff));

  Bytes back(6000);
  ASSERT_TRUE(read(ch, transfer::kNand, 0x5000, back).success);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), back.begin()));
  EXPECT_TRUE(std::all_of(back.begin() + 5000, back.end(), [](auto b) { return b == 0xff; }));
  Bytes other(100);
  ASSERT_TRUE(read(ch, transfer::kLpc, 0x5000, other).success);
  EXPECT_EQ(other, Bytes(100, 0xff));
}

TEST_F(SimBoardTest, KeepsTheLastEnvironmentBlockTheLastHeaderAndItsCounts) {
  start();
  Channel ch = channel();
  Bytes env(65536, 0xff);
  env[0] = 0x12;
  ASSERT_TRUE(write(ch, transfer::kSpi, 0x70000, env).success);
  ASSERT_TRUE(write(ch, transfer::kNand, 0x0, {9}).success);
  Bytes lpc_env = {7, 7, 7};
  ASSERT_TRUE(write(ch, transfer::kLpc, 0x100, lpc_env, 5).success);
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
  Bytes data = {1, 2};
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
  ASSERT_TRUE(discover(rig_.link()));
  ASSERT_TRUE(discover(rig_.link()));
  EXPECT_FALSE(board().finished());
  Channel ch = channel();
  ASSERT_TRUE(write(ch, transfer::kNand, 0, {1}).success);
  EXPECT_FALSE(discover(rig_.link()));
  EXPECT_TRUE(board().finished());
  EXPECT_TRUE(board().finished_on_probe());
  EXPECT_EQ(board().probes_answered(), 2);
  EXPECT_FALSE(discover(rig_.link())) << "a finished board stays quiet";
}

// The diagnostic image's text, as the station's own relay logs it.

TEST_F(SimBoardTest, AStartedDiagImageAnswersTheNextProbeAndPrintsItselfInTextBlocks) {
  start();
  std::string text;
  for (int i = 0; i < 30; ++i) text += "line " + std::to_string(i) + " of the diagnostic\r\n";
  Channel ch = channel();
  ASSERT_TRUE(start_diag(ch, Bytes(text.begin(), text.end())).success);
  rig_.clear();
  StringLog log;
  ASSERT_EQ(station::relay_diagnostic_text(&log, ch), Outcome::kOk);
  EXPECT_EQ(log.text(), text);
  int expected_blocks = static_cast<int>((text.size() + 254) / 255);
  EXPECT_EQ(board().stats().text_blocks, expected_blocks);

  std::vector<WireEvent> blocks;
  for (const WireEvent& e : rig_.taken())
    if (e.ether_type == link::kEtherTargetData) blocks.push_back(e);
  ASSERT_EQ(static_cast<int>(blocks.size()), expected_blocks + 1);
  for (const WireEvent& e : blocks) EXPECT_LE(e.payload_length(), 256u);
  EXPECT_EQ(blocks[0].payload_length(), 256u);
  EXPECT_EQ(blocks[0].payload()[255], 0);
  const WireEvent& marker = blocks.back();
  EXPECT_EQ(marker.payload_length(), 46u) << "18 bytes padded to the Ethernet minimum";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(marker.payload()), 18),
            std::string("QM7302-DIAG-END\r\n", 17) + '\0');
  // One probe and its reply, then every block waited for the station's acknowledgement.
  std::vector<std::string> seq = sequence(rig_.events());
  ASSERT_GE(seq.size(), 2u);
  EXPECT_EQ(seq[0], "S32785");
  EXPECT_EQ(seq[1], "x");
  for (std::size_t i = 2; i < seq.size(); i += 2) EXPECT_EQ(seq[i + 1], "ACK") << i;

  EXPECT_TRUE(board().finished());
  EXPECT_FALSE(board().finished_on_probe());
  EXPECT_TRUE(board().diag_ran());
}

TEST_F(SimBoardTest, TheDiagTextOptionReplacesTheImagesOwnBytesAndAnEmptyTextIsJustTheMarker) {
  BoardOptions options;
  options.diag_text = "memory test passed\r\n";
  start(options);
  Channel ch = channel();
  ASSERT_TRUE(start_diag(ch, {0x7f, 'E', 'L', 'F'}).success);
  StringLog log;
  EXPECT_EQ(station::relay_diagnostic_text(&log, ch), Outcome::kOk);
  EXPECT_EQ(log.text(), "memory test passed\r\n");

  SimBoard& empty = start();
  ASSERT_TRUE(start_diag(ch, {}).success);
  StringLog nothing;
  EXPECT_EQ(station::relay_diagnostic_text(&nothing, ch), Outcome::kOk);
  EXPECT_EQ(nothing.text(), "");
  EXPECT_EQ(empty.stats().text_blocks, 0);
  EXPECT_TRUE(empty.finished());
}

TEST_F(SimBoardTest, AnExeToAnotherMemoryStoresTheDataAndStartsNothing) {
  start();
  Channel ch = channel();
  Bytes data = {5, 6, 7};
  ASSERT_TRUE(transfer::command_exchange(ch, header(transfer::kNand, transfer::kExe, 0x10, 3),
                                         data.data(), Direction::kSend)
                  .success);
  EXPECT_FALSE(board().diag_ran());
  EXPECT_EQ(board().memory(transfer::kNand, 0x10, 3), data);
  EXPECT_TRUE(write(ch, transfer::kNand, 0, {1}).success) << "still takes commands";
}

// Misbehaviour switches.

TEST_F(SimBoardTest, PaddedAndOversizedAcknowledgementsReachTheStationAsSuch) {
  for (AckStyle style : {AckStyle::kPadded, AckStyle::kOversized}) {
    LinkRig rig;
    BoardOptions options;
    options.faults.ack_style = style;
    rig.plug(options);
    Channel ch = rig.channel();
    ASSERT_TRUE(write(ch, transfer::kNand, 0, test::pattern(22529)).success);
    std::string ack = style == AckStyle::kPadded ? "T46" : "T200";
    std::vector<std::string> expected = {"H80", ack};
    for (int i = 0; i < 16; ++i) expected.push_back("H1408");
    expected.insert(expected.end(), {ack, "H1", ack, "T64", "ACK"});
    EXPECT_EQ(sequence(rig.events()), expected);
  }
}

TEST_F(SimBoardTest, ForeignFramesAndRandomPayloadsDoNotDisturbAWalk) {
  BoardOptions options;
  options.faults.foreign_frames = true;
  options.faults.random_payloads = true;
  options.faults.foreign_ether_type = link::kEtherReply;
  start(options);
  Bytes image = test::pattern(30000);
  Channel ch = channel();
  ASSERT_TRUE(write(ch, transfer::kNand, 0x100, image).success);
  ExchangeResult verify = read_back(ch, transfer::kNand, 0x100, image);
  EXPECT_EQ(verify.outcome, Outcome::kOk);
  EXPECT_TRUE(verify.success);
  std::vector<WireEvent> frames = rig_.taken();
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
    LinkRig rig;
    BoardOptions options;
    options.faults.silent_after_received = 1;
    SimBoard& board = rig.plug(options);
    ASSERT_TRUE(discover(rig.link()));
    Channel ch = rig.channel(std::chrono::milliseconds(200));
    EXPECT_EQ(write(ch, transfer::kNand, 0, {1}).outcome, Outcome::kTimeout);
    EXPECT_TRUE(board.silent());
  }
  {
    LinkRig rig;
    BoardOptions options;
    options.faults.silent_after_sent = 2;
    rig.plug(options);
    ASSERT_TRUE(discover(rig.link()));
    Channel ch = rig.channel(std::chrono::milliseconds(200));
    EXPECT_EQ(write(ch, transfer::kNand, 0, {1}).outcome, Outcome::kTimeout);
    EXPECT_EQ(sequence(rig.events()),
              (std::vector<std::string>{"S32785", "x", "H80", "T64", "H1"}));
  }
}

TEST_F(SimBoardTest, LostOrDuplicatedFramesAndLostAcknowledgementsBreakTheExchange) {
  auto run = [](BoardFaults faults, bool with_read_back) {
    LinkRig rig;
    BoardOptions options;
    options.faults = faults;
    rig.plug(options);
    Channel ch = rig.channel(std::chrono::milliseconds(200));
    Bytes image = test::pattern(3000);
    ExchangeResult w = write(ch, transfer::kNand, 0, image);
    if (!with_read_back || w.outcome != Outcome::kOk) return w;
    return read_back(ch, transfer::kNand, 0, image);
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
  struct Case {
    SilentPhase phase;
    int blocks;
    std::string log;
  };
  for (const Case& c : {Case{SilentPhase::kAfterDiagStart, 0, ""},
                        Case{SilentPhase::kMidDiagText, 1, std::string(255, 'a')}}) {
    SCOPED_TRACE(static_cast<int>(c.phase));
    LinkRig rig;
    BoardOptions options;
    options.faults.silent_phase = c.phase;
    SimBoard& board = rig.plug(options);
    Channel ch = rig.channel(std::chrono::milliseconds(200));
    ASSERT_TRUE(start_diag(ch, Bytes(1000, 'a')).success);
    StringLog log;
    EXPECT_EQ(station::relay_diagnostic_text(&log, ch), Outcome::kTimeout);
    EXPECT_EQ(log.text(), c.log);
    EXPECT_EQ(board.stats().text_blocks, c.blocks);
    EXPECT_TRUE(board.silent());
  }
}

TEST_F(SimBoardTest, AStalledExchangeIsGivenUpSoAFreshHeaderIsTakenAsOne) {
  BoardOptions options;
  options.stall_reset = std::chrono::milliseconds(10);
  start(options);
  // A header announcing 3000 bytes, then the station goes away.
  auto bytes = transfer::encode_header(header(transfer::kNand, transfer::kWrite, 0, 3000));
  rig_.link().send_data_frame(bytes.data(), transfer::kHeaderSize);
  std::uint8_t ack[64];
  ASSERT_GT(rig_.link().receive_data_frame(ack, 64), 0) << "the header was not acknowledged";
  // The board measures its stall on the system's clock: let that much of it pass. What comes
  // next is a fresh exchange, not the missing data.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Channel ch = channel();
  EXPECT_TRUE(write(ch, transfer::kSpi, 0x40, {4, 5, 6}).success);
  EXPECT_EQ(board().memory(transfer::kSpi, 0x40, 3), (Bytes{4, 5, 6}));
}

TEST_F(SimBoardTest, FailingStatusSwitches) {
  BoardOptions options;
  options.faults.fail_writes = true;
  start(options);
  Channel ch = channel();
  Bytes data = {1, 2, 3};
  EXPECT_FALSE(write(ch, transfer::kNand, 0, data).success);
  Bytes back(3);
  EXPECT_TRUE(read(ch, transfer::kNand, 0, back).success);
  EXPECT_EQ(back, data) << "a failing write still keeps its data";
}

}  // namespace
}  // namespace skav::sim
