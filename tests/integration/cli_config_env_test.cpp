#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/temp_dir.h"

namespace skav {
namespace {

using test::read_file;

// The whole content of a file, byte for byte.
// Runs the skav program with `arguments`; a run that hangs is killed after a generous limit.
test::ProgramResult run_skav(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {SKAV_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return test::run_program(argv, std::chrono::seconds(60));
}

TEST(SkavConfigCommand, PrintsTheTableThenThePlan) {
  test::TempDir folder;
  folder.write("config.ini",
               "[kernel]\r\nFilename=zImage\r\nMem_Src_addr=0x2000\r\nMem_Dst_addr=0x40000\r\n"
               "Mem_type=nand\r\nCommand=write\r\n");
  folder.write("zImage", std::string(3000, 'k'));
  test::ProgramResult run = run_skav({"config", "-C", folder.path().string()});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out,
            "0 kernel Filename=zImage Mem_Src_addr=0x00002000 Mem_Dst_addr=0x00040000 "
            "Mem_type=nand Command=write\n"
            "1 uboot Filename=BADID Mem_Src_addr=0xFFFFFFFF Mem_Dst_addr=0xFFFFFFFF "
            "Mem_type=BADID Command=BADID\n"
            "2 filesystem Filename=BADID Mem_Src_addr=0xFFFFFFFF Mem_Dst_addr=0xFFFFFFFF "
            "Mem_type=BADID Command=BADID\n"
            "3 diag Filename=BADID Mem_Src_addr=0xFFFFFFFF Mem_Dst_addr=0xFFFFFFFF "
            "Mem_type=BADID Command=BADID\n"
            "4 uboot_cfg Filename=BADID Mem_Src_addr=0xFFFFFFFF Mem_Dst_addr=0xFFFFFFFF "
            "Mem_type=BADID Command=BADID\n"
            "0 kernel: memory type 1 (nand), command 0 (write), 3000 bytes from zImage\n"
            "1 uboot: skipped, not configured\n"
            "2 filesystem: skipped, not configured\n"
            "3 diag: skipped, not configured\n"
            "4 uboot_cfg: skipped, Mem_type BADID is not spi or lpc\n");
}

TEST(SkavEnvCommand, WritesTheImageAndTakesTheAddressFromTheStoreWithoutChangingIt) {
  test::TempDir folder;
  folder.write("config.ini", "[uboot_cfg]\nFilename=env.ini\nMem_type=spi\n");
  folder.write("env.ini",
               "[variable]\nvar_no=1\nvariable00=MAC0\n[argument]\nMAC0=00:00:00:00:00:00\n");
  const std::string store =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\SKAV]\r\n"
      "\"MACHWID\"=hex(2):30,30,31,31,32,32,33,33,34,34,35,35\r\n";
  folder.write("settings.reg", store);
  const std::string dir = folder.path().string();

  test::ProgramResult run =
      run_skav({"env", "-C", dir, "--settings", dir + "/settings.reg", "-o", dir + "/env.bin"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("Used Length: 55\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Next MAC: 001122334456\n"), std::string::npos) << run.out;
  std::string image = read_file(folder / "env.bin");
  ASSERT_EQ(image.size(), 65536u);
  EXPECT_EQ(image.substr(31, 23), std::string("MAC0=00:11:22:33:44:55\0", 23));
  EXPECT_EQ(read_file(folder / "settings.reg"), store);
  // It only looked: not even a lock file beside the store.
  EXPECT_FALSE(std::filesystem::exists(folder / "settings.reg.lock"));
}

TEST(SkavEnvCommand, RefusesStoredDigitsThatAreNotHexadecimalAsARunWould) {
  test::TempDir folder;
  folder.write("settings.reg",
               "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\SKAV]\r\n"
               "\"MACHWID\"=hex(2):30,30,31,31,32,32,33,33,34,34,35,5a\r\n");
  const std::string dir = folder.path().string();
  test::ProgramResult run =
      run_skav({"env", "-C", dir, "--settings", dir + "/settings.reg", "-o", dir + "/e.bin"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("00112233445Z is not 12 hexadecimal digits"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(folder / "e.bin"));
}

TEST(SkavEnvCommand, WithoutAStoreUsesTheDefaultAddressAndCreatesNoStore) {
  test::TempDir folder;
  const std::string dir = folder.path().string();
  test::ProgramResult run =
      run_skav({"env", "-C", dir, "--settings", dir + "/absent.reg", "-o", dir + "/e.bin"});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_NE(run.out.find("Used Length: 32\nCRC: 0x1B38FF96\n"), std::string::npos) << run.out;
  EXPECT_FALSE(std::filesystem::exists(folder / "absent.reg"));
}

TEST(SkavEnvCommand, RefusesAMacThatIsNotTwelveHexadecimalDigits) {
  test::TempDir folder;
  const std::string dir = folder.path().string();
  for (const char* mac : {"0011223344", "00112233445G", "0011223344556"}) {
    test::ProgramResult run = run_skav({"env", "-C", dir, "--mac", mac, "-o", dir + "/e.bin"});
    EXPECT_EQ(run.exit_code, 1) << mac;
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "e.bin"));
}

}  // namespace
}  // namespace skav
