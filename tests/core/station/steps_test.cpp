#include "core/station/steps.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/config/section_table.h"
#include "core/settings/file_settings_store.h"
#include "core/settings/store_address_pool.h"
#include "support/link_rig.h"
#include "support/rig.h"
#include "support/temp_dir.h"

namespace skav::station {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::digits_of;
using test::sequence;
using test::WireEvent;
using transfer::Outcome;

constexpr auto kShortTimeout = 1000ms;  // logged as "1 s"

// One section of config.ini.
std::string section(const char* name, const std::string& filename, const char* mem_type,
                    const char* command, std::uint32_t src = 0, std::uint32_t dst = 0) {
  char addresses[64];
  std::snprintf(addresses, sizeof addresses, "Mem_Src_addr=0x%X\nMem_Dst_addr=0x%X\n", src, dst);
  return std::string("[") + name + "]\nFilename=" + filename + "\nMem_type=" + mem_type +
         "\nCommand=" + command + "\n" + addresses;
}

std::string as_text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

Bytes prefix(const WireEvent& e, std::size_t n) { return Bytes(e.payload(), e.payload() + n); }

// The station's frames carrying an 80-byte payload: the Command Headers.
std::vector<WireEvent> headers(const std::vector<WireEvent>& events) {
  std::vector<WireEvent> out;
  for (const WireEvent& e : events)
    if (e.sent && e.ether_type == link::kEtherHostData && e.payload_length() == transfer::kHeaderSize)
      out.push_back(e);
  return out;
}

// A file of `size` bytes that takes no disk space (grown without writing).
void sparse_file(const std::filesystem::path& path, std::uintmax_t size) {
  std::ofstream(path, std::ios::binary).close();
  std::error_code ec;
  std::filesystem::resize_file(path, size, ec);
  ASSERT_FALSE(ec) << ec.message();
}

// The steps of a run over a Link of the test's own, with a simulated board (or a script) at the
// far end, a working folder for config.ini and the images, and the address pool kept in a
// settings store there.
class Steps : public ::testing::Test {
 protected:
  Steps() : store_(dir_ / "settings.reg") {}

  RunPlan plan(const std::string& config_ini) {
    dir_.write("config.ini", config_ini);
    config::SectionTable table;
    config::read_section_table(table, dir_ / "config.ini");
    return make_plan(table, dir_.path());
  }
  Bytes write_image(const std::string& name, std::size_t size, unsigned seed = 1) {
    Bytes bytes = test::pattern(size, seed);
    dir_.write(name, as_text(bytes));
    return bytes;
  }

  StepResult image(const PlanStep& step, std::chrono::milliseconds timeout = transfer::kDefaultTimeout) {
    ImageBuffer buffer;
    EXPECT_TRUE(buffer.obtain(static_cast<std::uint32_t>(step.size)));
    transfer::Channel channel = rig_.channel(timeout);
    return image_step(&log_, channel, step, buffer);
  }
  // The image sections as a run takes them, up to one whose transfer did not complete: the
  // verdicts of the steps taken.
  struct Walk {
    Outcome outcome = Outcome::kOk;
    std::vector<Verdict> verdicts;
  };
  Walk walk(const RunPlan& plan, std::chrono::milliseconds timeout = transfer::kDefaultTimeout) {
    Walk walk;
    ImageBuffer buffer;
    EXPECT_TRUE(buffer.obtain(plan.largest_image()));
    transfer::Channel channel = rig_.channel(timeout);
    for (StepSlot slot : {StepSlot::kKernel, StepSlot::kUboot, StepSlot::kFilesystem}) {
      StepResult result = image_step(&log_, channel, plan.step(slot), buffer);
      walk.verdicts.push_back(result.verdict);
      walk.outcome = result.outcome;
      if (result.outcome != Outcome::kOk) break;
    }
    return walk;
  }
  DiagResult diag(const RunPlan& plan, std::chrono::milliseconds timeout = transfer::kDefaultTimeout) {
    transfer::Channel channel = rig_.channel(timeout);
    return diag_step(&log_, channel, plan.step(StepSlot::kDiag));
  }
  EnvironmentResult environment(const RunPlan& plan, settings::AddressPool& pool,
                                const char* digits = "001122334455", bool exact = false,
                                std::chrono::milliseconds timeout = 10s) {
    AddressSource address{pool, digits_of(digits), exact, "sim0"};
    transfer::Channel channel = rig_.channel(timeout);
    channel.stop = &stop_;
    return environment_step(&log_, channel, plan.step(StepSlot::kEnvironment), dir_.path(), address);
  }
  std::string stored_machwid() {
    MacDigits::Digits d{};
    if (store_.machwid_read(nullptr, d) != settings::kOk) return "(none)";
    return MacDigits::text(d);
  }

  test::TempDir dir_;
  settings::FileSettingsStore store_;
  settings::StoreAddressPool pool_{store_};
  test::LinkRig rig_;
  StringLog log_;
  std::atomic<bool> stop_{false};
};

// --- Image sections ---

TEST_F(Steps, KernelWriteSendsTheDocumentedHeaderAndVerifiesByReadBack) {
  rig_.plug();
  write_image("kernel.bin", 3000);
  RunPlan p = plan(section("kernel", "kernel.bin", "nand", "write", 0x2000, 0x40000));
  StepResult result = image(p.step(StepSlot::kKernel));

  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nSuccess\r\n");
  EXPECT_EQ(result.outcome, Outcome::kOk);
  EXPECT_EQ(result.verdict, Verdict::kPass);
  std::vector<WireEvent> events = rig_.events();
  std::vector<WireEvent> sent_headers = headers(events);
  ASSERT_EQ(sent_headers.size(), 2u);
  Bytes write_header = {0x00, 0x01, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00,
                        0x00, 0x00, 0x04, 0x00, 0xB8, 0x0B, 0x00, 0x00};
  write_header.resize(transfer::kHeaderSize, 0);
  EXPECT_EQ(prefix(sent_headers[0], transfer::kHeaderSize), write_header);
  Bytes read_header = write_header;
  read_header[2] = 0x01;
  EXPECT_EQ(prefix(sent_headers[1], transfer::kHeaderSize), read_header);
  EXPECT_EQ(sequence(events),
            (std::vector<std::string>{"H80", "T64", "H1408", "H1408", "H184", "T64", "T64", "ACK",
                                      "H80", "T64", "T1408", "T1408", "T184", "ACK", "T64",
                                      "ACK"}));
}

TEST_F(Steps, APassingWalkLogsEachSectionAndStoresEachImageAtItsDestination) {
  sim::SimBoard& board = rig_.plug();
  Bytes kernel = write_image("kernel.bin", 45057, 1);
  Bytes uboot = write_image("uboot.bin", 1409, 2);
  Bytes fs = write_image("images/rootfs.img", 22529, 3);
  Walk result = walk(plan(section("kernel", "kernel.bin", "nand", "write", 0, 0x40000) +
                          section("uboot", "uboot.bin", "spi", "write", 0, 0x0) +
                          section("filesystem", "images/rootfs.img", "lpc", "write", 0, 0x100000)));

  EXPECT_EQ(log_.text(),
            "Section begin: [kernel]\r\nSuccess\r\n"
            "Section begin: [uboot]\r\nSuccess\r\n"
            "Section begin: [filesystem]\r\nSuccess\r\n");
  EXPECT_EQ(result.verdicts, (std::vector<Verdict>{Verdict::kPass, Verdict::kPass, Verdict::kPass}));
  EXPECT_EQ(board.memory(transfer::kNand, 0x40000, 45057), kernel);
  EXPECT_EQ(board.memory(transfer::kSpi, 0, 1409), uboot);
  EXPECT_EQ(board.memory(transfer::kLpc, 0x100000, 22529), fs);
  sim::BoardStats stats = board.stats();
  EXPECT_EQ(stats.exchanges, 6);
  EXPECT_EQ(stats.writes, 3);
  EXPECT_EQ(stats.reads, 3);
  EXPECT_EQ(stats.malformed_acks, 0);
}

TEST_F(Steps, AnEmptyImageMovesNoDataFrameAndPasses) {
  rig_.plug();
  dir_.write("empty.bin", "");
  RunPlan p = plan(section("uboot", "empty.bin", "nand", "write", 1, 2));
  EXPECT_EQ(image(p.step(StepSlot::kUboot)).verdict, Verdict::kPass);
  EXPECT_EQ(log_.text(), "Section begin: [uboot]\r\nSuccess\r\n");
  EXPECT_EQ(sequence(rig_.events()),
            (std::vector<std::string>{"H80", "T64", "T64", "ACK", "H80", "T64", "T64", "ACK"}));
  std::vector<WireEvent> sent = headers(rig_.events());
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(prefix(sent[0], 16), (Bytes{0, 1, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}));
}

// How the board answers a written kernel, and what the section's log and verdict make of it.
struct ReadBackCase {
  const char* name;
  sim::BoardFaults faults;
  const char* log;
  Verdict verdict;
};

TEST_F(Steps, TheVerdictOfAWriteComesFromItsReadBackAlone) {
  sim::BoardFaults failing_write;
  failing_write.fail_status = 1;  // the write's own status
  sim::BoardFaults failing_read;
  failing_read.fail_status = 2;  // the read-back's status, with equal bytes
  sim::BoardFaults corrupted;
  corrupted.corrupt_read = 1;
  const ReadBackCase cases[] = {
      {"write status fails", failing_write, "Section begin: [kernel]\r\nSuccess\r\n", Verdict::kPass},
      {"read-back status fails", failing_read, "Section begin: [kernel]\r\nFail\r\n", Verdict::kFail},
      {"read-back differs", corrupted, "Section begin: [kernel]\r\nFail\r\n", Verdict::kFail},
  };
  write_image("kernel.bin", 5000);
  RunPlan p = plan(section("kernel", "kernel.bin", "nand", "write", 0, 0x1000));
  for (const ReadBackCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::BoardOptions options;
    options.faults = c.faults;
    rig_.plug(options);
    log_.clear();
    StepResult result = image(p.step(StepSlot::kKernel));
    EXPECT_EQ(log_.text(), c.log);
    EXPECT_EQ(result.outcome, Outcome::kOk);
    EXPECT_EQ(result.verdict, c.verdict);
  }
}

TEST_F(Steps, ACorruptedReadBackFailsOnlyItsSection) {
  sim::BoardOptions options;
  options.faults.corrupt_read = 1;
  rig_.plug(options);
  write_image("kernel.bin", 3000, 1);
  write_image("uboot.bin", 3000, 2);
  Walk result = walk(plan(section("kernel", "kernel.bin", "nand", "write", 0, 0x1000) +
                          section("uboot", "uboot.bin", "nand", "write", 0, 0x9000)));
  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nFail\r\nSection begin: [uboot]\r\nSuccess\r\n");
  EXPECT_EQ(result.verdicts, (std::vector<Verdict>{Verdict::kFail, Verdict::kPass, Verdict::kSkipped}));
  EXPECT_EQ(result.outcome, Outcome::kOk);
}

TEST_F(Steps, AMissingImageIsReportedAndTheWalkGoesOn) {
  sim::SimBoard& board = rig_.plug();
  write_image("uboot.bin", 10);
  Walk result = walk(plan(section("kernel", "nothere.bin", "nand", "write", 0, 0) +
                          section("uboot", "uboot.bin", "nand", "write", 0, 0x100)));
  EXPECT_EQ(log_.text(),
            "The file [nothere.bin] was not opened\r\nSection begin: [uboot]\r\nSuccess\r\n");
  EXPECT_EQ(result.verdicts, (std::vector<Verdict>{Verdict::kFail, Verdict::kPass, Verdict::kSkipped}));
  EXPECT_EQ(board.stats().headers, 2) << "only uboot's write and read-back travelled";
}

TEST_F(Steps, AnImageLargerThanTheBufferIsRefusedUnread) {
  rig_.plug();
  sparse_file(dir_ / "huge.bin", kImageCapacity + 1ull);
  Walk result = walk(plan(section("filesystem", "huge.bin", "nand", "write", 0, 0)));
  EXPECT_EQ(log_.text(), "The file [huge.bin] was not opened\r\n");
  EXPECT_EQ(result.verdicts.back(), Verdict::kFail);
  EXPECT_TRUE(rig_.events().empty());
}

TEST(LoadImage, ReadsAWholeRegularFileThatFitsAndNothingElse) {
  test::TempDir dir;
  dir.write("a/b.bin", "hello");
  struct Case {
    std::filesystem::path file;
    std::uint32_t capacity;
    int error;  // 0: read
  };
  const Case cases[] = {
      {dir / "a/b.bin", 8, 0},
      {dir / "a/b.bin", 5, 0},
      {dir / "a/b.bin", 4, EFBIG},  // one byte too big
      {dir / "a", 8, EINVAL},       // a directory
      {dir / "none.bin", 8, ENOENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.string() + " into " + std::to_string(c.capacity));
    std::uint8_t buffer[8] = {};
    std::uint32_t size = 99;
    Status status = load_image(c.file, buffer, c.capacity, size);
    EXPECT_EQ(status.code(), c.error) << status.message();
    if (c.error != 0) {
      EXPECT_EQ(size, 0u);
      EXPECT_NE(status.message().find(c.file.string()), std::string::npos) << "names the file";
    } else {
      EXPECT_EQ(size, 5u);
      EXPECT_EQ(std::memcmp(buffer, "hello", 5), 0);
    }
  }
}

TEST_F(Steps, YimgBinLogsItsBytes2048And2049AndADashForEveryByteItDoesNotHave) {
  rig_.plug();
  Bytes image_bytes(3000, 0x00);
  image_bytes[2048] = 0xFF;
  image_bytes[2049] = 0x0A;
  const struct {
    std::size_t size;
    const char* line;
  } cases[] = {{3000, "byte 2048:ff,2049:a\r\n"}, {2049, "byte 2048:ff,2049:-\r\n"},
               {100, "byte 2048:-,2049:-\r\n"}};
  for (const auto& c : cases) {
    log_.clear();
    dir_.write("yimg.bin", as_text(Bytes(image_bytes.begin(), image_bytes.begin() + static_cast<std::ptrdiff_t>(c.size))));
    RunPlan sized = plan(section("kernel", "yimg.bin", "nand", "write", 0, 0));
    image(sized.step(StepSlot::kKernel));
    EXPECT_EQ(log_.text(), std::string("Section begin: [kernel]\r\n") + c.line + "Success\r\n");
  }
}

TEST_F(Steps, OnlyExactlyYimgBinLogsTheByteLine) {
  rig_.plug();
  Bytes image_bytes(3000, 0x01);
  dir_.write("YIMG.bin", as_text(image_bytes));
  dir_.write("sub/yimg.bin", as_text(image_bytes));
  walk(plan(section("kernel", "YIMG.bin", "nand", "write", 0, 0) +
            section("uboot", "sub/yimg.bin", "nand", "write", 0, 0x10000)));
  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nSuccess\r\nSection begin: [uboot]\r\nSuccess\r\n");
}

TEST_F(Steps, AReadSectionVerifiesTheBoardsCopyWithoutWriting) {
  sim::SimBoard& board = rig_.plug();
  Bytes kernel = write_image("kernel.bin", 30000);
  write_image("other.bin", 30000, 9);
  Walk result = walk(plan(section("kernel", "kernel.bin", "nand", "write", 0, 0x80000) +
                          section("uboot", "kernel.bin", "NAND", "Read", 0, 0x80000) +
                          section("filesystem", "other.bin", "nand", "READ", 0, 0x80000)));
  EXPECT_EQ(log_.text(),
            "Section begin: [kernel]\r\nSuccess\r\n"
            "Section begin: [uboot]\r\nSuccess\r\n"
            "Section begin: [filesystem]\r\nFail\r\n");
  EXPECT_EQ(result.verdicts, (std::vector<Verdict>{Verdict::kPass, Verdict::kPass, Verdict::kFail}));
  sim::BoardStats stats = board.stats();
  EXPECT_EQ(stats.writes, 1);
  EXPECT_EQ(stats.reads, 3);
  EXPECT_EQ(board.memory(transfer::kNand, 0x80000, 30000), kernel) << "a read section wrote something";
  std::vector<WireEvent> sent = headers(rig_.events());
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[2].payload()[2], transfer::kRead);
  EXPECT_EQ(sent[2].payload()[12] | sent[2].payload()[13] << 8, 30000);
}

TEST_F(Steps, AnExeSectionLogsNothingAfterItsBeginAndItsVerdictFollowsItsStatusFrame) {
  write_image("kernel.bin", 2000);
  RunPlan p = plan(section("kernel", "kernel.bin", "lpc", "exe", 0, 0x100));
  for (int fail_status : {0, -1}) {
    SCOPED_TRACE(fail_status);
    sim::BoardOptions options;
    options.faults.fail_status = fail_status;
    sim::SimBoard& board = rig_.plug(options);
    log_.clear();
    StepResult result = image(p.step(StepSlot::kKernel));
    EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\n");
    EXPECT_EQ(result.outcome, Outcome::kOk);
    EXPECT_EQ(result.verdict, fail_status == 0 ? Verdict::kPass : Verdict::kFail);
    EXPECT_EQ(board.stats().exes, 1);
    EXPECT_EQ(board.stats().reads, 0) << "an exe is not read back";
  }
}

TEST_F(Steps, UnconfiguredOrInvalidSectionsAreSkippedSilently) {
  rig_.plug();
  write_image("k.bin", 10);
  Walk result = walk(plan(section("kernel", "k.bin", "mem", "write") +       // mem is for diag only
                          section("uboot", "k.bin", "nand", "erase") +       // no such command
                          section("filesystem", "badid", "nand", "write") +  // the Missing Marker
                          section("diag", "k.bin", "nand", "write")));       // not an image section
  EXPECT_EQ(log_.text(), "");
  EXPECT_TRUE(rig_.events().empty());
  EXPECT_EQ(result.verdicts,
            (std::vector<Verdict>{Verdict::kSkipped, Verdict::kSkipped, Verdict::kSkipped}));
}

TEST_F(Steps, KeywordsAreMatchedWithoutRegardToCaseAndTheLogShowsTheSectionName) {
  rig_.plug();
  write_image("k.bin", 10);
  RunPlan p = plan(section("kernel", "k.bin", "Nand", "WRITE"));
  PlanStep step = p.step(StepSlot::kKernel);
  std::snprintf(step.record.name, sizeof step.record.name, "KERNEL");
  image(step);
  EXPECT_EQ(log_.text(), "Section begin: [KERNEL]\r\nSuccess\r\n");
  std::vector<WireEvent> sent = headers(rig_.events());
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(prefix(sent[0], 4), (Bytes{0, 1, 0, 0}));
}

TEST_F(Steps, ABoardFallingSilentMidBlockEndsTheWalkWithTheReason) {
  sim::BoardOptions options;
  options.faults.silent_phase = sim::SilentPhase::kMidData;
  sim::SimBoard& board = rig_.plug(options);
  write_image("kernel.bin", 45057);
  write_image("uboot.bin", 100);
  Walk result = walk(plan(section("kernel", "kernel.bin", "nand", "write", 0, 0) +
                          section("uboot", "uboot.bin", "nand", "write", 0, 0x100000)),
                     kShortTimeout);
  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nFail\r\nTarget not responding after 1 s\r\n");
  EXPECT_EQ(result.outcome, Outcome::kTimeout);
  EXPECT_EQ(result.verdicts, (std::vector<Verdict>{Verdict::kTimeout})) << "uboot is not reached";
  EXPECT_EQ(board.stats().headers, 1);
}

TEST_F(Steps, EveryPhaseOfSilenceEndsTheSectionAsATimeout) {
  struct Case {
    sim::SilentPhase phase;
    int exchange;
  };
  write_image("kernel.bin", 3000);
  RunPlan p = plan(section("kernel", "kernel.bin", "nand", "write", 0, 0));
  for (Case c : {Case{sim::SilentPhase::kAfterHeader, 1}, Case{sim::SilentPhase::kMidData, 2},
                 Case{sim::SilentPhase::kBeforeStatus, 1},
                 Case{sim::SilentPhase::kBeforeStatus, 2}}) {
    SCOPED_TRACE(static_cast<int>(c.phase) * 10 + c.exchange);
    sim::BoardOptions options;
    options.faults.silent_phase = c.phase;
    options.faults.silent_exchange = c.exchange;
    sim::SimBoard& board = rig_.plug(options);
    log_.clear();
    StepResult result = image(p.step(StepSlot::kKernel), 200ms);
    EXPECT_EQ(result.outcome, Outcome::kTimeout);
    EXPECT_EQ(result.verdict, Verdict::kTimeout);
    EXPECT_EQ(result.reason, "no answer after 0 s");
    EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nFail\r\nTarget not responding after 0 s\r\n");
    EXPECT_EQ(board.stats().headers, c.exchange);
  }
}

TEST_F(Steps, AnAdapterThatGoesAwayMidSectionEndsItAsGoneNotAsSilent) {
  // The board acknowledges the header; the adapter goes while the image travels.
  int frames = 0;
  rig_.script([&](std::uint16_t, const std::uint8_t*, std::size_t) {
    if (++frames == 1) rig_.send_data(Bytes(transfer::kAckSize, 0));
    if (frames == 2) rig_.backend().set_present(false);
  });
  write_image("kernel.bin", 3000);
  RunPlan p = plan(section("kernel", "kernel.bin", "nand", "write", 0, 0));
  Clock::time_point start = rig_.clock().now();
  StepResult result = image(p.step(StepSlot::kKernel));
  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nFail\r\nNetwork Interface sim0 is gone\r\n");
  EXPECT_EQ(result.outcome, Outcome::kAdapterLost);
  EXPECT_EQ(result.verdict, Verdict::kAdapterLost);
  EXPECT_EQ(result.reason, "adapter sim0 is gone");
  EXPECT_LE(rig_.clock().now() - start, link::kReadTimeout) << "not after the timeout";
}

class RecordingProgress : public transfer::ProgressObserver {
 public:
  void on_progress(std::uint64_t done, std::uint64_t total) override {
    calls.push_back(std::to_string(done) + "/" + std::to_string(total));
  }
  std::vector<std::string> calls;
};

TEST_F(Steps, ProgressCoversTheDataPhasesOnly) {
  rig_.plug();
  write_image("kernel.bin", 22529);
  write_image("uboot.bin", 100);
  RunPlan p = plan(section("kernel", "kernel.bin", "nand", "write", 0, 0) +
                   section("uboot", "uboot.bin", "nand", "exe", 0, 0x100000));
  RecordingProgress progress;
  ImageBuffer buffer;
  ASSERT_TRUE(buffer.obtain(p.largest_image()));
  transfer::Channel channel = rig_.channel();
  channel.progress = &progress;
  image_step(&log_, channel, p.step(StepSlot::kKernel), buffer);
  // The write, then its read-back; headers and Status Frames are not reported.
  EXPECT_EQ(progress.calls, (std::vector<std::string>{"0/22529", "22528/22529", "22529/22529",
                                                      "0/22529", "22528/22529", "22529/22529"}));
  progress.calls.clear();
  image_step(&log_, channel, p.step(StepSlot::kUboot), buffer);
  EXPECT_EQ(progress.calls, (std::vector<std::string>{"0/100", "100/100"}));
}

// A station keeps its image buffer from board to board: the memory stays, but a step loads no
// more than this board's plan allows, even where an earlier board's images were larger.
TEST_F(Steps, AKeptBufferKeepsItsMemoryAndThisBoardsLimit) {
  rig_.plug();
  write_image("kernel.bin", 100);
  RunPlan p = plan(section("kernel", "kernel.bin", "nand", "write", 0, 0));
  ImageBuffer buffer;
  ASSERT_TRUE(buffer.obtain(3000));
  const std::uint8_t* memory = buffer.data();
  ASSERT_TRUE(buffer.obtain(p.largest_image()));
  EXPECT_EQ(buffer.data(), memory);
  EXPECT_EQ(buffer.capacity(), 100u);
  transfer::Channel channel = rig_.channel();
  EXPECT_EQ(image_step(&log_, channel, p.step(StepSlot::kKernel), buffer).verdict, Verdict::kPass);
  write_image("kernel.bin", 200);  // grew after the plan was made
  EXPECT_EQ(image_step(&log_, channel, p.step(StepSlot::kKernel), buffer).verdict, Verdict::kFail);
  ASSERT_TRUE(buffer.obtain(5000));
  EXPECT_EQ(buffer.capacity(), 5000u);
}

// --- The diagnostic image ---

TEST_F(Steps, TheDiagImageIsSentAsExeToMemAndReportedOnTheProgressLine) {
  sim::SimBoard& board = rig_.plug();
  Bytes image_bytes = write_image("diag.bin", 5000);
  DiagResult result = diag(plan(section("diag", "diag.bin", "MEM", "BADID", 0x1000, 0x2000)));
  EXPECT_EQ(log_.text(), "Find the diag..................Success\r\n");
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.verdict, Verdict::kPass);
  std::vector<WireEvent> sent = headers(rig_.events());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(prefix(sent[0], 16),
            (Bytes{0x00, 0x04, 0x02, 0x00, 0x00, 0x10, 0, 0, 0x00, 0x20, 0, 0, 0x88, 0x13, 0, 0}));
  EXPECT_EQ(board.diag_image(), image_bytes);
  EXPECT_TRUE(board.diag_ran());
}

// The exchange takes place with 0 bytes: the board is started, but not with its image, so the
// step fails whatever the board reports.
TEST_F(Steps, ADiagFileThatCannotBeReadStartsAnEmptyExchangeAndFailsTheStep) {
  struct Case {
    const char* name;
    std::function<void(test::TempDir&)> make;
  };
  const Case cases[] = {
      {"missing", [](test::TempDir&) {}},
      {"oversized", [](test::TempDir& dir) { sparse_file(dir / "diag.bin", kDiagCapacity + 1ull); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir_ / "diag.bin");
    c.make(dir_);
    sim::SimBoard& board = rig_.plug();
    rig_.clear();
    log_.clear();
    DiagResult result = diag(plan(section("diag", "diag.bin", "mem", "exe")));
    EXPECT_EQ(log_.text(),
              "Find the diag..................The file [diag.bin] was not opened\r\nSuccess\r\n");
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.outcome, Outcome::kOk);
    EXPECT_EQ(result.verdict, Verdict::kFail);
    EXPECT_EQ(result.reason, "file diag.bin not opened");
    std::vector<WireEvent> sent = headers(rig_.events());
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(prefix(sent[0], 16)[12], 0);
    EXPECT_EQ(sequence(rig_.events()), (std::vector<std::string>{"H80", "T64", "T64", "ACK"}));
    EXPECT_EQ(board.stats().frames_received, 2) << "only the header and the status ack";
  }
}

TEST_F(Steps, ADiagThatIsNotMemOrHasNoFileIsNotSent) {
  rig_.plug();
  write_image("diag.bin", 10);
  EXPECT_FALSE(diag(plan("")).started);
  EXPECT_FALSE(diag(plan(section("diag", "diag.bin", "nand", "exe"))).started);
  EXPECT_FALSE(diag(plan(section("diag", "BadId", "mem", "exe"))).started);
  EXPECT_EQ(log_.text(), "");
  EXPECT_TRUE(rig_.events().empty());
}

TEST_F(Steps, AFailingDiagStatusIsLoggedAndTheImageCountsAsStarted) {
  sim::BoardOptions options;
  options.faults.fail_status = 1;
  rig_.plug(options);
  write_image("diag.bin", 10);
  DiagResult result = diag(plan(section("diag", "diag.bin", "mem", "exe")));
  EXPECT_EQ(log_.text(), "Find the diag..................Fail\r\n");
  EXPECT_TRUE(result.started);
  EXPECT_EQ(result.verdict, Verdict::kFail);
}

TEST_F(Steps, ASilentBoardEndsTheDiagDownloadUnstarted) {
  sim::BoardOptions options;
  options.faults.silent_phase = sim::SilentPhase::kBeforeStatus;
  rig_.plug(options);
  write_image("diag.bin", 3000);
  DiagResult result = diag(plan(section("diag", "diag.bin", "mem", "exe")), kShortTimeout);
  EXPECT_EQ(log_.text(), "Find the diag..................Fail\r\nTarget not responding after 1 s\r\n");
  EXPECT_FALSE(result.started);
  EXPECT_EQ(result.outcome, Outcome::kTimeout);
  EXPECT_EQ(result.verdict, Verdict::kTimeout);
}

// --- The console relay, against a scripted diagnostic image ---

Bytes text_block(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes with_zero(const std::string& text) { return Bytes(text.c_str(), text.c_str() + text.size() + 1); }
const Bytes kMarker = with_zero("QM7302-DIAG-END\r\n");

struct RelayCase {
  const char* name;
  std::vector<Bytes> blocks;  // payloads, in the order the image sends them
  std::string log;
  std::size_t blocks_taken;
};

TEST_F(Steps, TheRelayLogsEveryTextBlockUpToTheEndMarkerAndNothingElse) {
  Bytes not_zero = text_block("QM7302-DIAG-END\r\n");
  not_zero.push_back('X');
  const RelayCase cases[] = {
      {"the marker ends it", {with_zero("memory ok\r\n"), kMarker, with_zero("after\r\n")},
       "memory ok\r\n", 2},
      {"an 18th byte other than zero is no marker",
       {not_zero, with_zero("more\r\n"), kMarker},
       "QM7302-DIAG-END\r\nXmore\r\n", 3},
      {"text before the marker is logged whole and goes on",
       {with_zero("done\r\nQM7302-DIAG-END\r\n"), with_zero("more\r\n"), kMarker},
       "done\r\nQM7302-DIAG-END\r\nmore\r\n", 3},
      {"a shorter text ends at its zero byte",
       {with_zero("a longer first line\r\n"), with_zero("ok\r\n"), kMarker},
       "a longer first line\r\nok\r\n", 3},
      {"a payload without its zero byte keeps the rest of the block",
       {with_zero("a longer first line\r\n"), text_block("OK"), kMarker},
       "a longer first line\r\nOKlonger first line\r\n", 3},
      {"a payload longer than the block is cut to it",
       {text_block(std::string(300, 'a')), kMarker}, std::string(256, 'a'), 2},
  };
  for (const RelayCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::LinkRig rig;
    std::size_t next = 0;
    // The image answers the probe with its first block, and each acknowledgement with the next.
    rig.script([&](std::uint16_t type, const std::uint8_t*, std::size_t) {
      if (type == link::kEtherProbe) rig.send(link::kEtherReply, nullptr, 0);
      if (next < c.blocks.size()) rig.send_data(c.blocks[next++]);
    });
    StringLog log;
    transfer::Channel channel = rig.channel();
    EXPECT_EQ(relay_diagnostic_text(&log, channel), Outcome::kOk);
    EXPECT_EQ(log.text(), c.log);
    EXPECT_EQ(rig.taken().size(), 1 + c.blocks_taken) << "the reply, then the blocks";
  }
}

TEST_F(Steps, TheRelayWaitsForTheStartedImageOnlyAsLongAsTheTimeout) {
  StringLog log;
  transfer::Channel channel = rig_.channel(kShortTimeout);
  Clock::time_point start = rig_.clock().now();
  EXPECT_EQ(relay_diagnostic_text(&log, channel), Outcome::kTimeout);
  EXPECT_GE(rig_.clock().now() - start, kShortTimeout);
  EXPECT_LT(rig_.clock().now() - start, kShortTimeout + 100ms) << "one more probe at most";
  EXPECT_EQ(log.text(), "") << "the caller says why the run ended";
  EXPECT_GT(sequence(rig_.events()).size(), 1u) << "it kept probing";
}

// --- The environment ---

class EnvironmentStep : public Steps {
 protected:
  EnvironmentStep() {
    dir_.write("env.ini", "[variable]\nvar_no=1\nvariable00=MAC0\n[argument]\nMAC0=00:00:00:00:00:00\n");
  }
  RunPlan env_plan(const char* filename = "env.ini", const char* mem_type = "spi") {
    return plan(std::string("[uboot_cfg]\nFilename=") + filename + "\nMem_type=" + mem_type +
                "\nMem_Src_addr=0x0\nMem_Dst_addr=0x40000\n");
  }
  std::string block_of(const sim::SimBoard& board, std::size_t length) {
    Bytes bytes = board.memory(transfer::kSpi, 0x40000, static_cast<std::uint32_t>(5 + length));
    return std::string(bytes.begin() + 5, bytes.end());
  }
};

TEST_F(EnvironmentStep, APassingBoardTakesTheAddressAndTheNextOneIsStored) {
  sim::SimBoard& board = rig_.plug();
  EnvironmentResult result = environment(env_plan(), pool_);
  EXPECT_EQ(result.verdict, Verdict::kPass);
  EXPECT_EQ(log_.text(),
            "Find the UBOOT CONFIG file.....Success\r\nMAC Addr : 001122334455 Test...Pass\r\n");
  EXPECT_TRUE(result.sent);
  EXPECT_EQ(MacDigits::text(result.written), "001122334455");
  EXPECT_EQ(MacDigits::text(result.next), "001122334456");
  EXPECT_EQ(stored_machwid(), "001122334456");
  EXPECT_EQ(block_of(board, 50), std::string("ethaddr=00:11:22:33:44:55\0MAC0=00:11:22:33:44:55\0", 50));
}

// Once the image went out the board may keep the address, however the exchange ended: it is
// used up, so that the next board cannot get it too.
TEST_F(EnvironmentStep, AFailedOrSilentExchangeStillUsesUpTheAddress) {
  struct Case {
    const char* name;
    sim::BoardFaults faults;
    const char* log;
    Verdict verdict;
  };
  sim::BoardFaults corrupted;
  corrupted.corrupt_read = 1;
  sim::BoardFaults failing;
  failing.fail_status = 2;
  sim::BoardFaults silent;
  silent.silent_phase = sim::SilentPhase::kAfterHeader;
  const Case cases[] = {
      {"read-back differs", corrupted,
       "Find the UBOOT CONFIG file.....Fail\r\nMAC Addr : 001122334455 Test...Fail\r\n", Verdict::kFail},
      {"read-back status fails", failing, "Find the UBOOT CONFIG file.....Fail\r\n", Verdict::kFail},
      {"silent after the header", silent,
       "Find the UBOOT CONFIG file.....Fail\r\nTarget not responding after 1 s\r\n", Verdict::kTimeout},
  };
  RunPlan p = env_plan();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(store_.path());
    sim::BoardOptions options;
    options.faults = c.faults;
    rig_.plug(options);
    log_.clear();
    EnvironmentResult result = environment(p, pool_, "001122334455", false, kShortTimeout);
    EXPECT_EQ(result.verdict, c.verdict);
    EXPECT_EQ(result.outcome, c.verdict == Verdict::kTimeout ? Outcome::kTimeout : Outcome::kOk);
    EXPECT_EQ(log_.text(), c.log);
    EXPECT_TRUE(result.sent);
    EXPECT_EQ(MacDigits::text(result.next), "001122334456");
    EXPECT_EQ(stored_machwid(), "001122334456");
  }
}

TEST_F(EnvironmentStep, DigitsThatAreNotHexadecimalAreRefusedBeforeAnythingIsSent) {
  sim::SimBoard& board = rig_.plug();
  EnvironmentResult result = environment(env_plan(), pool_, "00112233445Z");
  EXPECT_EQ(result.verdict, Verdict::kFail);
  EXPECT_EQ(log_.text(),
            "MAC Addr : 00112233445Z is not 12 hexadecimal digits; environment not written\r\n");
  EXPECT_FALSE(result.sent);
  EXPECT_EQ(board.stats().headers, 0);
  EXPECT_EQ(stored_machwid(), "(none)");
}

TEST_F(EnvironmentStep, AMemoryTypeOtherThanSpiOrLpcSendsNothingLogsNothingAndTakesNoAddress) {
  sim::SimBoard& board = rig_.plug();
  EnvironmentResult result = environment(env_plan("env.ini", "nand"), pool_);
  EXPECT_EQ(result.verdict, Verdict::kSkipped);
  EXPECT_FALSE(result.sent);
  EXPECT_EQ(log_.text(), "");
  EXPECT_EQ(board.stats().headers, 0);
  EXPECT_EQ(stored_machwid(), "(none)");
}

// Every image carries ethaddr: without a MAC variable (or without a description file at all)
// each board still takes an address of its own, never the one before it.
TEST_F(EnvironmentStep, LpcInCapitalsIsAcceptedAndWithoutAMacVariableEachBoardStillTakesItsOwnAddress) {
  dir_.write("plain.ini", "[variable]\nvar_no=0\n");
  for (const char* file : {"absent.ini", "plain.ini"}) {
    SCOPED_TRACE(file);
    std::filesystem::remove(store_.path());
    for (const char* address : {"001122334455", "001122334456"}) {
      sim::SimBoard& board = rig_.plug();
      EnvironmentResult result = environment(env_plan(file, "LPC"), pool_);
      EXPECT_EQ(result.verdict, Verdict::kPass);
      EXPECT_TRUE(result.sent);
      EXPECT_EQ(MacDigits::text(result.written), address);
      EXPECT_TRUE(result.reservation.has_value());
      Bytes block = board.memory(transfer::kLpc, 0x40000, 5 + 25);
      EXPECT_EQ(std::string(block.begin() + 5, block.end()),
                "ethaddr=" + MacDigits::colon_text(digits_of(address)));
    }
    EXPECT_EQ(stored_machwid(), "001122334457");
  }
}

TEST_F(EnvironmentStep, ThePoolsNextAddressWinsUnlessTheOperatorEnteredOne) {
  struct Case {
    bool exact;
    const char* written;
    const char* next;
  };
  RunPlan p = env_plan();
  for (Case c : {Case{false, "0011223344A0", "0011223344A1"}, Case{true, "001122334455", "001122334456"}}) {
    SCOPED_TRACE(c.exact);
    ASSERT_EQ(store_.machwid_write(nullptr, digits_of("0011223344A0")), settings::kOk);
    sim::SimBoard& board = rig_.plug();
    log_.clear();
    EnvironmentResult result = environment(p, pool_, "001122334455", c.exact);
    EXPECT_EQ(result.verdict, Verdict::kPass);
    EXPECT_EQ(MacDigits::text(result.written), c.written);
    EXPECT_EQ(log_.text(), std::string("Find the UBOOT CONFIG file.....Success\r\nMAC Addr : ") +
                               c.written + " Test...Pass\r\n");
    EXPECT_EQ(block_of(board, 26).substr(8, 17), MacDigits::colon_text(digits_of(c.written)));
    EXPECT_EQ(stored_machwid(), c.next);
  }
}

// A pool that cannot be reached for the first `unavailable` reservations.
class FlakyPool : public settings::AddressPool {
 public:
  explicit FlakyPool(settings::AddressPool& inner, int unavailable)
      : inner_(inner), unavailable_(unavailable) {}
  settings::PoolResult<MacDigits::Digits> read_next(Log* log) override { return inner_.read_next(log); }
  settings::PoolResult<> write_next(Log* log, const MacDigits::Digits& digits) override {
    return inner_.write_next(log, digits);
  }
  settings::PoolResult<settings::Reservation> reserve(Log* log, const MacDigits::Digits& wanted, bool exact,
                                                      const std::string& port) override {
    ++attempts;
    if (unavailable_-- > 0) return {settings::PoolCode::kUnavailable, "the pool is down"};
    return inner_.reserve(log, wanted, exact, port);
  }
  settings::PoolResult<> finish(const settings::Reservation& r, const settings::BoardOutcome& o) override {
    return inner_.finish(r, o);
  }
  int attempts = 0;

 private:
  settings::AddressPool& inner_;
  int unavailable_;
};

TEST_F(EnvironmentStep, AnUnreachablePoolIsWaitedForAndNothingIsSentWithoutAnAddress) {
  sim::SimBoard& board = rig_.plug();
  FlakyPool pool(pool_, 2);
  Clock::time_point start = rig_.clock().now();
  EnvironmentResult result = environment(env_plan(), pool);
  EXPECT_EQ(pool.attempts, 3);
  const AddressSource defaults{pool_, {}, false, {}};
  EXPECT_GE(rig_.clock().now() - start, 2 * defaults.retry) << "a pause between tries";
  EXPECT_EQ(result.verdict, Verdict::kPass);
  EXPECT_EQ(log_.text(),
            "MAC address pool unavailable, waiting: the pool is down\r\n"
            "MAC address pool available again\r\n"
            "Find the UBOOT CONFIG file.....Success\r\nMAC Addr : 001122334455 Test...Pass\r\n");
  EXPECT_EQ(board.stats().headers, 2);

  // Stopped while it waits: the step ends there, and nothing went out.
  FlakyPool down(pool_, 1000);
  stop_ = true;
  log_.clear();
  rig_.clear();
  result = environment(env_plan(), down);
  EXPECT_EQ(result.outcome, Outcome::kStopped);
  EXPECT_EQ(result.verdict, Verdict::kStopped);
  EXPECT_FALSE(result.sent);
  EXPECT_EQ(log_.text(), "MAC address pool unavailable, waiting: the pool is down\r\n");
  EXPECT_TRUE(rig_.events().empty());
}

}  // namespace
}  // namespace skav::station
