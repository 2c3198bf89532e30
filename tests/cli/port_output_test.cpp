// Several ports on one terminal: each port's lines prefixed on the shared output, its log byte
// for byte in its own file.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/station_setup.h"
#include "frontends/cli/port_output.h"
#include "frontends/cli/run_summary.h"
#include "support/captured_stream.h"
#include "support/screen.h"
#include "support/temp_dir.h"

namespace skav::cli {
namespace {

// The shared output written to a temporary file, read back.
class Output {
 public:
  Output() : file_(std::tmpfile()), out_(file_) {}
  ~Output() { std::fclose(file_); }
  PrefixedOutput& out() { return out_; }
  std::string text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) text.append(buffer, n);
    return text;
  }

 private:
  std::FILE* file_;
  PrefixedOutput out_;
};

TEST(PrefixedOutput, EachLineCarriesItsPortAndAnInterruptedLineIsTakenUpAgain) {
  Output output;
  PrefixedOutput& out = output.out();
  out.append("eth1", "Waiting connecting to Target...\r\nConnected...\r\n");
  out.append("eth1", "Find the UBOOT CONFIG file.....");
  out.append("eth2", "Connected...\r\nInput MAC Address : ");
  out.append("eth2", "00");
  out.erase_last("eth2");
  out.append("eth1", "Success\r\n");
  out.erase_last("eth2");
  out.append("eth2", "12");
  EXPECT_EQ(output.text(),
            "eth1: Waiting connecting to Target...\r\n"
            "eth1: Connected...\r\n"
            "eth1: Find the UBOOT CONFIG file.....\n"
            "eth2: Connected...\r\n"
            "eth2: Input MAC Address : 00\b \b\n"
            "eth1: Find the UBOOT CONFIG file.....Success\r\n"
            "eth2: Input MAC Address : 12");
}

TEST(PortLog, TheFileHoldsThePortsLogByteForByteAndTheOutputItsPrefixedLines) {
  test::TempDir dir;
  Output output;
  {
    PortLog log("eth1", (dir / "eth1.log").string(), output.out());
    ASSERT_TRUE(log.ok());
    log.append("Input MAC Address : 0");
    log.append("1");
    log.erase_last();
    log.append("\x1b\r\n");
  }
  EXPECT_EQ(test::read_file(dir / "eth1.log"), "Input MAC Address : 01\b \b\x1b\r\n");
  EXPECT_EQ(output.text(), "eth1: Input MAC Address : 01\b \b\x1b\r\n");
  PortLog nowhere("eth1", (dir / "missing/eth1.log").string(), output.out());
  EXPECT_FALSE(nowhere.ok());
}

// Each port keeps a file of its own: a lossy name carries a hash of the whole name, and so do
// names that meet ignoring case; only the same name twice needs a count.
TEST(PortLogNames, EachPortGetsAFileOfItsOwnThatDependsOnItsNameAlone) {
  struct Case {
    std::vector<std::string> ports, files;
  };
  const Case cases[] = {
      {{"eth0"}, {"eth0.log"}},
      {{"enp3s0f1.100", "usb-net_2"}, {"enp3s0f1.100.log", "usb-net_2.log"}},
      {{"\\Device\\NPF_{1A2B}"}, {"_Device_NPF__1A2B_-ab21c4b4.log"}},
      {{"a b/c:\xc3\xa9"}, {"a_b_c___-e6b8cbce.log"}},
      {{"a:b", "a_b", "a b"}, {"a_b-08bd8540.log", "a_b.log", "a_b-10a3f9f2.log"}},
      {{"a_b", "a:b"}, {"a_b.log", "a_b-08bd8540.log"}},
      {{"eth0", "Eth0", "eth1"}, {"eth0-67b19724.log", "Eth0-510c60c4.log", "eth1.log"}},
      {{"eth0", "eth0"}, {"eth0-67b19724.log", "eth0-67b19724-2.log"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ports.front());
    EXPECT_EQ(app::port_log_names(c.ports), c.files);
  }
}

TEST(PortLog, ARestartAppendsToTheLastRunsLog) {
  test::TempDir dir;
  Output output;
  for (const char* text : {"Waiting connecting to Target...\r\n", "Connected...\r\n"}) {
    PortLog log("eth1", (dir / "eth1.log").string(), output.out());
    ASSERT_TRUE(log.ok());
    log.append(text);
  }
  EXPECT_EQ(test::read_file(dir / "eth1.log"), "Waiting connecting to Target...\r\nConnected...\r\n");
}


// Standard output and error on one terminal (one stream stands for both): a port's line on
// standard error never lands on another port's unfinished row.
TEST(PrefixedOutput, ALineBesideThePortsEndsAnUnfinishedRowWhichIsTakenUpAgain) {
  test::CapturedStream terminal;
  PrefixedOutput out(terminal.file());
  RunSummary eth2(terminal.file(), false, "eth2: ");
  eth2.share(&out);
  out.append("eth1", "Connected...\r\nFind the UBOOT CONFIG file.....");
  eth2.finish();
  out.append("eth1", "Success\r\n");
  eth2.finish();
  EXPECT_EQ(test::screen_rows(terminal.text()),
            (std::vector<std::string>{"eth1: Connected...", "eth1: Find the UBOOT CONFIG file.....",
                                      "eth2: 0 boards: 0 passed, 0 failed",
                                      "eth1: Find the UBOOT CONFIG file.....Success",
                                      "eth2: 0 boards: 0 passed, 0 failed"}))
      << terminal.text();
}

}  // namespace
}  // namespace skav::cli
