// A board programmed over the real libpcap link: the station on skav0, the simulated board on
// skav1 of a veth pair in a private namespace. Sections, the diagnostic image and its text.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/netns.h"
#include "support/rig.h"

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

TEST(TransferPcapTest, SectionAndDiagnosticDownloadReachTheBoardAndItsTextComesBack) {
  SKAV_REQUIRE_VETH_NAMESPACE();
  test::RigOptions options;
  options.examples = false;
  options.cable = test::veth_cable();
  ASSERT_TRUE(options.cable);
  test::StationRig rig(std::move(options));

  std::string kernel = pattern_text(300000, 1);
  std::string diag_text;
  for (int i = 0; i < 20; ++i) diag_text += "diagnostic line " + std::to_string(i) + "\r\n";
  rig.dir.write("kernel.bin", kernel);
  rig.dir.write("uboot.bin", pattern_text(3000, 2));
  rig.dir.write("diag.bin", diag_text);
  rig.dir.write("config.ini",
                "[kernel]\nFilename=kernel.bin\nMem_type=nand\nCommand=write\nMem_Dst_addr=0x40000\n"
                "[uboot]\nFilename=uboot.bin\nMem_type=spi\nCommand=write\nMem_Dst_addr=0\n"
                "[diag]\nFilename=diag.bin\nMem_type=mem\nCommand=exe\nMem_Dst_addr=0x8000\n");
  sim::BoardOptions board_options;
  board_options.mac = {0x02, 0x00, 0x00, 0x00, 0x00, 0x31};
  board_options.diag_text = diag_text;
  sim::SimBoard* board = rig.plug(board_options);

  ASSERT_TRUE(rig.until_boards_done(1)) << rig.log_text();
  // The started image answers the next probe and prints its text up to the end marker.
  EXPECT_EQ(rig.log_text(),
            "Waiting connecting to Target...\r\nConnected...\r\n"
            "Section begin: [kernel]\r\nSuccess\r\n"
            "Section begin: [uboot]\r\nSuccess\r\n"
            "Find the diag..................Success\r\n" + diag_text);
  std::vector<std::uint8_t> stored = board->memory(transfer::kNand, 0x40000, 300000);
  EXPECT_EQ(std::string(stored.begin(), stored.end()), kernel);
  EXPECT_TRUE(board->wait_until([](const sim::SimBoard& b) { return b.finished(); },
                                std::chrono::seconds(10)));
  EXPECT_EQ(board->stats().malformed_acks, 0);
  ASSERT_EQ(rig.records().size(), 1u);
  EXPECT_EQ(rig.records()[0].adapter, "skav0");
  EXPECT_EQ(rig.records()[0].verdict, "pass");
}

}  // namespace
}  // namespace skav
