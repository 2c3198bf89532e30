#include "core/transfer/image_download.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstring>
#include <string>

#include "core/transfer/station_harness.h"
#include "support/temp_dir.h"

namespace skav::transfer {
namespace {

using test::BoardThread;
using test::sequence;
using test::StationSide;
using test::WireEvent;

constexpr auto kShortTimeout = std::chrono::milliseconds(1000);  // logged as "1 s"

config::SectionTable empty_table() {
  config::SectionTable table{};
  for (std::size_t i = 0; i < table.size(); ++i) {
    config::SectionRecord& r = table[i];
    std::snprintf(r.name, sizeof r.name, "%s", config::kSectionNames[i]);
    std::snprintf(r.filename, sizeof r.filename, "%s", config::kMissing);
    std::snprintf(r.mem_type, sizeof r.mem_type, "%s", config::kMissing);
    std::snprintf(r.command, sizeof r.command, "%s", config::kMissing);
    r.mem_src_addr = 0xFFFFFFFF;
    r.mem_dst_addr = 0xFFFFFFFF;
  }
  return table;
}

void set(config::SectionTable& table, config::SectionIndex index, const char* filename,
         const char* mem_type, const char* command, std::uint32_t src, std::uint32_t dst) {
  config::SectionRecord& r = table[index];
  std::snprintf(r.filename, sizeof r.filename, "%s", filename);
  std::snprintf(r.mem_type, sizeof r.mem_type, "%s", mem_type);
  std::snprintf(r.command, sizeof r.command, "%s", command);
  r.mem_src_addr = src;
  r.mem_dst_addr = dst;
}

std::string as_text(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> prefix(const WireEvent& e, std::size_t n) {
  return std::vector<std::uint8_t>(e.payload(), e.payload() + n);
}

// The station's frames carrying an 80-byte payload: the Command Headers.
std::vector<WireEvent> headers(const std::vector<WireEvent>& events) {
  std::vector<WireEvent> out;
  for (const WireEvent& e : events)
    if (e.sent && e.ether_type == link::kEtherHostData && e.payload_length() == kHeaderSize)
      out.push_back(e);
  return out;
}

class ImageDownload : public ::testing::Test {
 protected:
  void start_board(board::BoardOptions options = {}) {
    board_ = std::make_unique<BoardThread>(station_.wire().board_end(), std::move(options));
  }
  board::SimBoard& board() { return board_->board(); }
  std::vector<std::uint8_t> write_image(const std::string& name, std::size_t size,
                                        unsigned seed = 1) {
    std::vector<std::uint8_t> bytes = test::pattern(size, seed);
    dir_.write(name, as_text(bytes));
    return bytes;
  }
  SectionResults walk(const config::SectionTable& table,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    Channel channel = station_.channel(timeout);
    return section_download(&log_, channel, table, dir_.path());
  }
  DiagResult diag(const config::SectionTable& table,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    Channel channel = station_.channel(timeout);
    return diagnostic_download(&log_, channel, table, dir_.path());
  }

  StationSide station_;
  test::TempDir dir_;
  StringLog log_;
  std::unique_ptr<BoardThread> board_;
};

TEST_F(ImageDownload, KernelWriteSendsTheDocumentedHeaderAndVerifiesByReadBack) {
  start_board();
  write_image("kernel.bin", 3000);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "kernel.bin", "nand", "write", 0x2000, 0x40000);
  SectionResults results = walk(table);

  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nSuccess\r\n");
  EXPECT_EQ(results.outcome, Outcome::kOk);
  EXPECT_EQ(results.verdicts[0], Verdict::kPass);
  std::vector<WireEvent> events = station_.recorder().events();
  std::vector<WireEvent> sent_headers = headers(events);
  ASSERT_EQ(sent_headers.size(), 2u);
  std::vector<std::uint8_t> write_header = {0x00, 0x01, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00,
                                            0x00, 0x00, 0x04, 0x00, 0xB8, 0x0B, 0x00, 0x00};
  write_header.resize(kHeaderSize, 0);
  EXPECT_EQ(prefix(sent_headers[0], kHeaderSize), write_header);
  std::vector<std::uint8_t> read_header = write_header;
  read_header[2] = 0x01;
  EXPECT_EQ(prefix(sent_headers[1], kHeaderSize), read_header);
  EXPECT_EQ(sequence(events),
            (std::vector<std::string>{"H80", "T64", "H1408", "H1408", "H184", "T64", "T64", "ACK",
                                      "H80", "T64", "T1408", "T1408", "T184", "ACK", "T64",
                                      "ACK"}));
}

TEST_F(ImageDownload, APassingWalkLogsEachSectionAndStoresEachImageAtItsDestination) {
  start_board();
  auto kernel = write_image("kernel.bin", 45057, 1);
  auto uboot = write_image("uboot.bin", 1409, 2);
  auto fs = write_image("images/rootfs.img", 22529, 3);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "kernel.bin", "nand", "write", 0, 0x40000);
  set(table, config::kUboot, "uboot.bin", "spi", "write", 0, 0x0);
  set(table, config::kFilesystem, "images/rootfs.img", "lpc", "write", 0, 0x100000);
  SectionResults results = walk(table);

  EXPECT_EQ(log_.text(),
            "Section begin: [kernel]\r\nSuccess\r\n"
            "Section begin: [uboot]\r\nSuccess\r\n"
            "Section begin: [filesystem]\r\nSuccess\r\n");
  EXPECT_EQ(results.verdicts, (std::array<Verdict, 3>{Verdict::kPass, Verdict::kPass,
                                                      Verdict::kPass}));
  EXPECT_EQ(board().memory(kNand, 0x40000, 45057), kernel);
  EXPECT_EQ(board().memory(kSpi, 0, 1409), uboot);
  EXPECT_EQ(board().memory(kLpc, 0x100000, 22529), fs);
  test::await_exchanges(board(), 6);
  board::BoardStats stats = board().stats();
  EXPECT_EQ(stats.writes, 3);
  EXPECT_EQ(stats.reads, 3);
  EXPECT_EQ(stats.malformed_acks, 0);
}

TEST_F(ImageDownload, AnEmptyImageMovesNoDataFrameAndPasses) {
  start_board();
  dir_.write("empty.bin", "");
  config::SectionTable table = empty_table();
  set(table, config::kUboot, "empty.bin", "nand", "write", 1, 2);
  SectionResults results = walk(table);
  EXPECT_EQ(log_.text(), "Section begin: [uboot]\r\nSuccess\r\n");
  EXPECT_EQ(results.verdicts[1], Verdict::kPass);
  EXPECT_EQ(sequence(station_.recorder().events()),
            (std::vector<std::string>{"H80", "T64", "T64", "ACK", "H80", "T64", "T64", "ACK"}));
  std::vector<WireEvent> sent = headers(station_.recorder().events());
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(prefix(sent[0], 16), (std::vector<std::uint8_t>{0, 1, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0,
                                                            0, 0, 0, 0}));
}

TEST_F(ImageDownload, TheVerdictOfAWriteComesFromTheReadBackAlone) {
  board::BoardOptions options;
  options.faults.fail_status = 1;  // the write's own status reports failure
  start_board(options);
  write_image("kernel.bin", 5000);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "kernel.bin", "nand", "write", 0, 0x1000);
  SectionResults results = walk(table);
  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nSuccess\r\n");
  EXPECT_EQ(results.verdicts[0], Verdict::kPass);
}

TEST_F(ImageDownload, ACorruptedReadBackFailsOnlyItsSection) {
  board::BoardOptions options;
  options.faults.corrupt_read = 1;
  start_board(options);
  write_image("kernel.bin", 3000, 1);
  write_image("uboot.bin", 3000, 2);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "kernel.bin", "nand", "write", 0, 0x1000);
  set(table, config::kUboot, "uboot.bin", "nand", "write", 0, 0x9000);
  SectionResults results = walk(table);
  EXPECT_EQ(log_.text(),
            "Section begin: [kernel]\r\nFail\r\nSection begin: [uboot]\r\nSuccess\r\n");
  EXPECT_EQ(results.verdicts[0], Verdict::kFail);
  EXPECT_EQ(results.verdicts[1], Verdict::kPass);
  EXPECT_EQ(results.outcome, Outcome::kOk);
}

TEST_F(ImageDownload, AFailingReadBackStatusFailsTheSectionEvenWithEqualBytes) {
  board::BoardOptions options;
  options.faults.fail_status = 2;  // the read-back's status
  start_board(options);
  write_image("kernel.bin", 100);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "kernel.bin", "nand", "write", 0, 0x1000);
  walk(table);
  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nFail\r\n");
}

TEST_F(ImageDownload, AMissingImageIsReportedAndTheWalkGoesOn) {
  start_board();
  write_image("uboot.bin", 10);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "nothere.bin", "nand", "write", 0, 0);
  set(table, config::kUboot, "uboot.bin", "nand", "write", 0, 0x100);
  SectionResults results = walk(table);
  EXPECT_EQ(log_.text(),
            "The file [nothere.bin] was not opened\r\nSection begin: [uboot]\r\nSuccess\r\n");
  EXPECT_EQ(results.verdicts[0], Verdict::kFail);
  EXPECT_EQ(results.verdicts[1], Verdict::kPass);
  EXPECT_EQ(board().stats().headers, 2) << "only uboot's write and read-back travelled";
}

TEST_F(ImageDownload, AnImageLargerThanTheBufferIsRefusedUnread) {
  start_board();
  // A sparse file one byte over the capacity: it takes no disk space.
  std::filesystem::path big = dir_ / "huge.bin";
  int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kImageCapacity) + 1), 0);
  ::close(fd);
  config::SectionTable table = empty_table();
  set(table, config::kFilesystem, "huge.bin", "nand", "write", 0, 0);
  SectionResults results = walk(table);
  EXPECT_EQ(log_.text(), "The file [huge.bin] was not opened\r\n");
  EXPECT_EQ(results.verdicts[2], Verdict::kFail);
  EXPECT_TRUE(station_.recorder().events().empty());

  std::uint8_t buffer[16];
  std::uint32_t size = 99;
  EXPECT_EQ(load_image(dir_.path(), "huge.bin", buffer, sizeof buffer, size), 0);
  EXPECT_EQ(size, 0u);
}

TEST(LoadImage, ReadsRelativeAndAbsoluteNamesAndRefusesWhatIsNoFile) {
  test::TempDir dir;
  dir.write("a/b.bin", "hello");
  std::uint8_t buffer[8] = {};
  std::uint32_t size = 0;
  EXPECT_EQ(load_image(dir.path(), "a/b.bin", buffer, sizeof buffer, size), 1);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::memcmp(buffer, "hello", 5), 0);
  EXPECT_EQ(load_image("/nonexistent", (dir / "a/b.bin").c_str(), buffer, 5, size), 1);
  EXPECT_EQ(load_image(dir.path(), "a/b.bin", buffer, 4, size), 0) << "one byte too big";
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(load_image(dir.path(), "a", buffer, sizeof buffer, size), 0) << "a directory";
  EXPECT_EQ(load_image(dir.path(), "", buffer, sizeof buffer, size), 0);
}

TEST_F(ImageDownload, YimgBinLogsItsBytes2048And2049) {
  start_board();
  std::vector<std::uint8_t> image(3000, 0x00);
  image[2048] = 0xFF;
  image[2049] = 0x0A;
  dir_.write("yimg.bin", as_text(image));
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "yimg.bin", "nand", "write", 0, 0);
  walk(table);
  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\nbyte 2048:ff,2049:a\r\nSuccess\r\n");
}

TEST_F(ImageDownload, OnlyExactlyYimgBinLogsTheByteLine) {
  start_board();
  std::vector<std::uint8_t> image(3000, 0x01);
  dir_.write("YIMG.bin", as_text(image));
  dir_.write("sub/yimg.bin", as_text(image));
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "YIMG.bin", "nand", "write", 0, 0);
  set(table, config::kUboot, "sub/yimg.bin", "nand", "write", 0, 0x10000);
  walk(table);
  EXPECT_EQ(log_.text(),
            "Section begin: [kernel]\r\nSuccess\r\nSection begin: [uboot]\r\nSuccess\r\n");
}

TEST_F(ImageDownload, AShortYimgBinShowsADashForEveryByteItDoesNotHave) {
  start_board();
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "yimg.bin", "nand", "write", 0, 0);
  std::vector<std::uint8_t> image(2049, 0x00);
  image[2048] = 0x7b;
  dir_.write("yimg.bin", as_text(image));
  walk(table);
  image.resize(100);
  dir_.write("yimg.bin", as_text(image));
  walk(table);
  EXPECT_EQ(log_.text(),
            "Section begin: [kernel]\r\nbyte 2048:7b,2049:-\r\nSuccess\r\n"
            "Section begin: [kernel]\r\nbyte 2048:-,2049:-\r\nSuccess\r\n");
}

TEST_F(ImageDownload, AReadSectionVerifiesTheBoardsCopyWithoutWriting) {
  start_board();
  auto image = write_image("kernel.bin", 30000);
  write_image("other.bin", 30000, 9);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "kernel.bin", "nand", "write", 0, 0x80000);
  set(table, config::kUboot, "kernel.bin", "NAND", "Read", 0, 0x80000);
  set(table, config::kFilesystem, "other.bin", "nand", "READ", 0, 0x80000);
  SectionResults results = walk(table);
  EXPECT_EQ(log_.text(),
            "Section begin: [kernel]\r\nSuccess\r\n"
            "Section begin: [uboot]\r\nSuccess\r\n"
            "Section begin: [filesystem]\r\nFail\r\n");
  EXPECT_EQ(results.verdicts, (std::array<Verdict, 3>{Verdict::kPass, Verdict::kPass,
                                                      Verdict::kFail}));
  test::await_exchanges(board(), 4);
  board::BoardStats stats = board().stats();
  EXPECT_EQ(stats.writes, 1);
  EXPECT_EQ(stats.reads, 3);
  EXPECT_EQ(board().memory(kNand, 0x80000, 30000), image) << "a read section wrote something";
  std::vector<WireEvent> sent = headers(station_.recorder().events());
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[2].payload()[2], kRead);
  EXPECT_EQ(sent[2].payload()[12] | sent[2].payload()[13] << 8, 30000);
}

TEST_F(ImageDownload, AnExeSectionIsSentAndItsStatusIsNotReported) {
  board::BoardOptions options;
  options.faults.fail_status = -1;
  start_board(options);
  write_image("kernel.bin", 2000);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "kernel.bin", "lpc", "exe", 0, 0x100);
  SectionResults results = walk(table);
  EXPECT_EQ(log_.text(), "Section begin: [kernel]\r\n");
  EXPECT_EQ(results.verdicts[0], Verdict::kPass);
  test::await_exchanges(board(), 1);
  EXPECT_EQ(board().stats().exes, 1);
  EXPECT_EQ(board().stats().reads, 0);
}

TEST_F(ImageDownload, UnconfiguredOrInvalidSectionsAreSkippedSilently) {
  start_board();
  write_image("k.bin", 10);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "k.bin", "mem", "write", 0, 0);      // mem is for diag only
  set(table, config::kUboot, "k.bin", "nand", "erase", 0, 0);      // no such command
  set(table, config::kFilesystem, "badid", "nand", "write", 0, 0);  // the Missing Marker
  set(table, config::kDiag, "k.bin", "nand", "write", 0, 0);       // not an image section
  set(table, config::kUbootCfg, "k.bin", "spi", "write", 0, 0);
  SectionResults results = walk(table);
  EXPECT_EQ(log_.text(), "");
  EXPECT_TRUE(station_.recorder().events().empty());
  EXPECT_EQ(results.verdicts, (std::array<Verdict, 3>{Verdict::kSkipped, Verdict::kSkipped,
                                                      Verdict::kSkipped}));
}

TEST_F(ImageDownload, KeywordsAreMatchedWithoutRegardToCase) {
  start_board();
  write_image("k.bin", 10);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "k.bin", "Nand", "WRITE", 0, 0);
  std::snprintf(table[config::kKernel].name, sizeof table[0].name, "KERNEL");
  walk(table);
  EXPECT_EQ(log_.text(), "Section begin: [KERNEL]\r\nSuccess\r\n");
  std::vector<WireEvent> sent = headers(station_.recorder().events());
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(prefix(sent[0], 4), (std::vector<std::uint8_t>{0, 1, 0, 0}));
}

TEST_F(ImageDownload, ABoardFallingSilentMidBlockEndsTheWalkWithTheReason) {
  board::BoardOptions options;
  options.faults.silent_phase = board::SilentPhase::kMidData;
  start_board(options);
  write_image("kernel.bin", 45057);
  write_image("uboot.bin", 100);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "kernel.bin", "nand", "write", 0, 0);
  set(table, config::kUboot, "uboot.bin", "nand", "write", 0, 0x100000);
  SectionResults results = walk(table, kShortTimeout);
  EXPECT_EQ(log_.text(),
            "Section begin: [kernel]\r\nFail\r\nTarget not responding after 1 s\r\n");
  EXPECT_EQ(results.outcome, Outcome::kTimeout);
  EXPECT_EQ(results.verdicts, (std::array<Verdict, 3>{Verdict::kTimeout, Verdict::kSkipped,
                                                      Verdict::kSkipped}));
}

TEST_F(ImageDownload, EveryPhaseOfSilenceEndsTheWalkAsATimeout) {
  struct Case {
    board::SilentPhase phase;
    int exchange;
  };
  for (Case c : {Case{board::SilentPhase::kAfterHeader, 1}, Case{board::SilentPhase::kMidData, 2},
                 Case{board::SilentPhase::kBeforeStatus, 1},
                 Case{board::SilentPhase::kBeforeStatus, 2}}) {
    SCOPED_TRACE(static_cast<int>(c.phase) * 10 + c.exchange);
    StationSide station;
    board::BoardOptions options;
    options.faults.silent_phase = c.phase;
    options.faults.silent_exchange = c.exchange;
    BoardThread board(station.wire().board_end(), options);
    write_image("kernel.bin", 3000);
    config::SectionTable table = empty_table();
    set(table, config::kKernel, "kernel.bin", "nand", "write", 0, 0);
    StringLog log;
    Channel channel = station.channel(std::chrono::milliseconds(200));
    SectionResults results = section_download(&log, channel, table, dir_.path());
    EXPECT_EQ(results.outcome, Outcome::kTimeout);
    EXPECT_EQ(results.verdicts[0], Verdict::kTimeout);
    EXPECT_EQ(log.text(), "Section begin: [kernel]\r\nFail\r\nTarget not responding after 0 s\r\n");
    EXPECT_EQ(board.board().stats().headers, c.exchange);
  }
}

class RecordingSections : public SectionProgress {
 public:
  void on_section_progress(const char* section, std::uint64_t done,
                           std::uint64_t total) override {
    calls.push_back(std::string(section) + ":" + std::to_string(done) + "/" +
                    std::to_string(total));
  }
  void on_section_end() override { calls.push_back("end"); }
  std::vector<std::string> calls;
};

TEST_F(ImageDownload, ProgressNamesTheSectionForItsDataPhasesOnly) {
  start_board();
  write_image("kernel.bin", 22529);
  write_image("uboot.bin", 100);
  config::SectionTable table = empty_table();
  set(table, config::kKernel, "kernel.bin", "nand", "write", 0, 0);
  set(table, config::kUboot, "uboot.bin", "nand", "exe", 0, 0x100000);
  RecordingSections progress;
  Channel channel = station_.channel();
  section_download(&log_, channel, table, dir_.path(), &progress);
  EXPECT_EQ(progress.calls,
            (std::vector<std::string>{"kernel:22528/22529", "kernel:22529/22529",
                                      "kernel:22528/22529", "kernel:22529/22529", "end",
                                      "uboot:100/100", "end"}));
  EXPECT_EQ(channel.progress, nullptr) << "the observer must not outlive its walk";
}

// The diagnostic download.

TEST_F(ImageDownload, TheDiagImageIsSentAsExeToMemAndReportedOnTheProgressLine) {
  start_board();
  auto image = write_image("diag.bin", 5000);
  config::SectionTable table = empty_table();
  set(table, config::kDiag, "diag.bin", "MEM", "BADID", 0x1000, 0x2000);
  DiagResult result = diag(table);
  EXPECT_EQ(log_.text(), "Find the diag..................Success\r\n");
  EXPECT_EQ(result.started, 1);
  EXPECT_EQ(result.verdict, Verdict::kPass);
  std::vector<WireEvent> sent = headers(station_.recorder().events());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(prefix(sent[0], 16), (std::vector<std::uint8_t>{0x00, 0x04, 0x02, 0x00, 0x00, 0x10,
                                                            0, 0, 0x00, 0x20, 0, 0, 0x88, 0x13,
                                                            0, 0}));
  test::await_exchanges(board(), 1);
  EXPECT_EQ(board().diag_image(), image);
  EXPECT_TRUE(board().diag_ran());
}

TEST_F(ImageDownload, AMissingDiagFileStillStartsAnEmptyExchange) {
  start_board();
  config::SectionTable table = empty_table();
  set(table, config::kDiag, "gone.bin", "mem", "exe", 0, 0);
  DiagResult result = diag(table);
  EXPECT_EQ(log_.text(),
            "Find the diag..................The file [gone.bin] was not opened\r\nSuccess\r\n");
  EXPECT_EQ(result.started, 1);
  std::vector<WireEvent> sent = headers(station_.recorder().events());
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(prefix(sent[0], 16)[12], 0);
  EXPECT_EQ(sequence(station_.recorder().events()),
            (std::vector<std::string>{"H80", "T64", "T64", "ACK"}));
}

TEST_F(ImageDownload, AnOversizedDiagImageIsSentAsAnEmptyOne) {
  start_board();
  std::filesystem::path big = dir_ / "diag.bin";
  int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kDiagCapacity) + 1), 0);
  ::close(fd);
  config::SectionTable table = empty_table();
  set(table, config::kDiag, "diag.bin", "mem", "exe", 0, 0);
  DiagResult result = diag(table);
  EXPECT_EQ(log_.text(),
            "Find the diag..................The file [diag.bin] was not opened\r\nSuccess\r\n");
  EXPECT_EQ(result.started, 1);
  test::await_exchanges(board(), 1);
  EXPECT_EQ(board().stats().frames_received, 2) << "only the header and the status ack";
}

TEST_F(ImageDownload, ADiagThatIsNotMemOrHasNoFileIsNotSent) {
  start_board();
  write_image("diag.bin", 10);
  config::SectionTable table = empty_table();
  EXPECT_EQ(diag(table).started, 0);
  set(table, config::kDiag, "diag.bin", "nand", "exe", 0, 0);
  EXPECT_EQ(diag(table).started, 0);
  set(table, config::kDiag, "BadId", "mem", "exe", 0, 0);
  EXPECT_EQ(diag(table).started, 0);
  EXPECT_EQ(log_.text(), "");
  EXPECT_TRUE(station_.recorder().events().empty());
}

TEST_F(ImageDownload, AFailingDiagStatusIsLoggedAndTheImageCountsAsStarted) {
  board::BoardOptions options;
  options.faults.fail_status = 1;
  start_board(options);
  write_image("diag.bin", 10);
  config::SectionTable table = empty_table();
  set(table, config::kDiag, "diag.bin", "mem", "exe", 0, 0);
  DiagResult result = diag(table);
  EXPECT_EQ(log_.text(), "Find the diag..................Fail\r\n");
  EXPECT_EQ(result.started, 1);
  EXPECT_EQ(result.verdict, Verdict::kFail);
}

TEST_F(ImageDownload, ASilentBoardEndsTheDiagDownloadUnstarted) {
  board::BoardOptions options;
  options.faults.silent_phase = board::SilentPhase::kBeforeStatus;
  start_board(options);
  write_image("diag.bin", 3000);
  config::SectionTable table = empty_table();
  set(table, config::kDiag, "diag.bin", "mem", "exe", 0, 0);
  DiagResult result = diag(table, kShortTimeout);
  EXPECT_EQ(log_.text(),
            "Find the diag..................Fail\r\nTarget not responding after 1 s\r\n");
  EXPECT_EQ(result.started, 0);
  EXPECT_EQ(result.outcome, Outcome::kTimeout);
  EXPECT_EQ(result.verdict, Verdict::kTimeout);
}

}  // namespace
}  // namespace skav::transfer
