// Section Download and Diagnostic Download against the simulated board over the real libpcap
// link: the station on skav0, the board on skav1 of a veth pair in a private namespace.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "board/sim_board.h"
#include "core/link/discovery.h"
#include "core/link/link.h"
#include "core/transfer/image_download.h"
#include "pcap/pcap_backend.h"
#include "support/netns.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

std::string pattern_text(std::size_t n, unsigned seed) {
  std::string bytes(n, '\0');
  std::uint32_t x = seed;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(x >> 16);
  }
  return bytes;
}

void fill(config::SectionRecord& r, const char* file, const char* type, const char* command,
          std::uint32_t dst) {
  std::snprintf(r.filename, sizeof r.filename, "%s", file);
  std::snprintf(r.mem_type, sizeof r.mem_type, "%s", type);
  std::snprintf(r.command, sizeof r.command, "%s", command);
  r.mem_src_addr = 0;
  r.mem_dst_addr = dst;
}

class TransferPcapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKAV_REQUIRE_VETH_NAMESPACE();
    board_device_ = backend_.open_for_board("skav1");
    ASSERT_TRUE(board_device_.device) << board_device_.error;
    board::BoardOptions options;
    options.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x31};
    board_ = std::make_unique<board::SimBoard>(*board_device_.device, options);
    board_thread_ = std::thread([this] { board_->run(stop_); });

    link::AdapterList list;
    station_.enumerate_adapters(&log_, list);
    int number = list.number_of("skav0");
    ASSERT_GT(number, 0);
    ASSERT_EQ(station_.open_adapter(&log_, number), 1) << log_.text();

    for (std::size_t i = 0; i < table_.size(); ++i) {
      config::SectionRecord& r = table_[i];
      std::snprintf(r.name, sizeof r.name, "%s", config::kSectionNames[i]);
      fill(r, config::kMissing, config::kMissing, config::kMissing, 0xFFFFFFFF);
    }
  }
  void TearDown() override {
    stop_ = true;
    if (board_thread_.joinable()) board_thread_.join();
  }
  bool discover() {
    for (int attempt = 0; attempt < 100; ++attempt)
      if (link::find_target(station_) == 1) return true;
    return false;
  }

  pcap::PcapBackend backend_;
  link::OpenResult board_device_;
  std::unique_ptr<board::SimBoard> board_;
  std::atomic<bool> stop_{false};
  std::thread board_thread_;
  link::Link station_{backend_};
  StringLog log_;
  test::TempDir dir_;
  config::SectionTable table_{};
};

TEST_F(TransferPcapTest, SectionAndDiagnosticDownloadReachTheBoardAndItsTextComesBack) {
  std::string kernel = pattern_text(300000, 1);
  std::string uboot = pattern_text(3000, 2);
  std::string diag_text;
  for (int i = 0; i < 20; ++i) diag_text += "diagnostic line " + std::to_string(i) + "\r\n";
  dir_.write("kernel.bin", kernel);
  dir_.write("uboot.bin", uboot);
  dir_.write("diag.bin", diag_text);
  fill(table_[config::kKernel], "kernel.bin", "nand", "write", 0x40000);
  fill(table_[config::kUboot], "uboot.bin", "spi", "write", 0x0);
  fill(table_[config::kDiag], "diag.bin", "mem", "exe", 0x8000);

  ASSERT_TRUE(discover());
  EXPECT_EQ(link::format_mac(station_.target_mac()), "02:00:00:00:00:31");
  transfer::Channel channel{station_};
  channel.timeout = std::chrono::seconds(10);
  transfer::SectionResults sections =
      transfer::section_download(&log_, channel, table_, dir_.path());
  EXPECT_EQ(sections.outcome, transfer::Outcome::kOk);
  transfer::DiagResult diag = transfer::diagnostic_download(&log_, channel, table_, dir_.path());
  EXPECT_EQ(diag.started, 1);
  EXPECT_EQ(log_.text(),
            "Section begin: [kernel]\r\nSuccess\r\n"
            "Section begin: [uboot]\r\nSuccess\r\n"
            "Find the diag..................Success\r\n");
  std::vector<std::uint8_t> stored = board_->memory(transfer::kNand, 0x40000, 300000);
  EXPECT_EQ(std::string(stored.begin(), stored.end()), kernel);

  // The started image answers the next probe and prints its text up to the end marker.
  ASSERT_TRUE(discover());
  std::string relayed;
  std::uint8_t block[256];
  for (int blocks = 0; blocks < 1000; ++blocks) {
    ASSERT_EQ(transfer::block_receive(channel, block, sizeof block), transfer::Outcome::kOk);
    if (std::memcmp(block, board::kDiagEndMarker.data(), board::kDiagEndMarker.size()) == 0) break;
    relayed += std::string(reinterpret_cast<const char*>(block),
                           strnlen(reinterpret_cast<const char*>(block), sizeof block));
  }
  EXPECT_EQ(relayed, diag_text);
  EXPECT_TRUE(board_->wait_until([](const board::SimBoard& b) { return b.finished(); },
                                 std::chrono::seconds(10)));
  EXPECT_EQ(board_->stats().malformed_acks, 0);
}

}  // namespace
}  // namespace skav
