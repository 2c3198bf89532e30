#include "core/config/section_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/transfer/image_download.h"
#include "support/temp_dir.h"

namespace skav::config {
namespace {

class SectionReportTest : public ::testing::Test {
 protected:
  SectionTable read(const std::string& content) {
    folder_.write("config.ini", content);
    SectionTable table;
    read_section_table(table, folder_ / "config.ini");
    return table;
  }
  std::string plan(const SectionTable& table, std::size_t index) {
    return describe_section_plan(index, table[index], folder_.path());
  }
  // A file of `size` bytes that takes no disk space.
  void sparse_file(const std::string& name, std::uintmax_t size) {
    folder_.write(name, "");
    std::filesystem::resize_file(folder_ / name, size);
  }
  test::TempDir folder_;
};

TEST_F(SectionReportTest, RecordLineShowsEveryFieldWithUpperCaseHexAddresses) {
  SectionTable table = read(
      "[kernel]\nFilename=zImage\nMem_Src_addr=0x2000\nMem_Dst_addr=0xabcdef\nMem_type=nand\n"
      "Command=write\n");
  EXPECT_EQ(format_section_record(0, table[kKernel]),
            "0 kernel Filename=zImage Mem_Src_addr=0x00002000 Mem_Dst_addr=0x00ABCDEF "
            "Mem_type=nand Command=write");
  EXPECT_EQ(format_section_record(3, table[kDiag]),
            "3 diag Filename=BADID Mem_Src_addr=0xFFFFFFFF Mem_Dst_addr=0xFFFFFFFF "
            "Mem_type=BADID Command=BADID");
}

TEST_F(SectionReportTest, ImageSectionsShowTheirCodesAndSize) {
  folder_.write("zImage", std::string(3000, 'k'));
  folder_.write("empty.bin", "");
  SectionTable table = read(
      "[kernel]\nFilename=zImage\nMem_type=Nand\nCommand=WRITE\n"
      "[uboot]\nFilename=empty.bin\nMem_type=spi\nCommand=exe\n"
      "[diag]\nFilename=zImage\nMem_type=MEM\nCommand=BADID\n");
  EXPECT_EQ(plan(table, kKernel),
            "0 kernel: memory type 1 (Nand), command 0 (WRITE), 3000 bytes from zImage");
  EXPECT_EQ(plan(table, kUboot),
            "1 uboot: memory type 2 (spi), command 2 (exe), 0 bytes from empty.bin");
  EXPECT_EQ(plan(table, kDiag),
            "3 diag: memory type 4 (MEM), command 2 (exe), 3000 bytes from zImage");
}

TEST_F(SectionReportTest, SkippedSectionsSayWhy) {
  std::filesystem::create_directory(folder_ / "adir");
  SectionTable table = read(
      "[kernel]\nFilename=zImage\nMem_type=mem\nCommand=write\n"
      "[uboot]\nFilename=u.bin\nMem_type=nand\nCommand=erase\n"
      "[filesystem]\nFilename=missing.img\nMem_type=lpc\nCommand=read\n"
      "[diag]\nFilename=adir\nMem_type=nand\n");
  EXPECT_EQ(plan(table, kKernel), "0 kernel: skipped, Mem_type mem is not nand, spi or lpc");
  EXPECT_EQ(plan(table, kUboot), "1 uboot: skipped, Command erase is not write, read or exe");
  EXPECT_EQ(plan(table, kFilesystem), "2 filesystem: skipped, file missing.img missing");
  EXPECT_EQ(plan(table, kDiag), "3 diag: skipped, Mem_type nand is not mem");
  EXPECT_EQ(plan(read("[kernel]\nMem_type=nand\nCommand=write\n"), kKernel),
            "0 kernel: skipped, not configured");
  // The diagnostic image is started even without its file, with 0 bytes.
  EXPECT_EQ(plan(read("[diag]\nFilename=adir\nMem_type=mem\n"), kDiag),
            "3 diag: memory type 4 (mem), command 2 (exe), 0 bytes (adir is not a file)");
}

TEST_F(SectionReportTest, FilesLargerThanTheirBufferAreSkipped) {
  sparse_file("big.img", transfer::kImageCapacity + 1ull);
  sparse_file("fits.img", transfer::kImageCapacity);
  sparse_file("diag.bin", transfer::kDiagCapacity + 1ull);
  SectionTable table = read(
      "[kernel]\nFilename=big.img\nMem_type=nand\nCommand=write\n"
      "[uboot]\nFilename=fits.img\nMem_type=nand\nCommand=write\n"
      "[diag]\nFilename=diag.bin\nMem_type=mem\n");
  EXPECT_EQ(plan(table, kKernel), "0 kernel: skipped, file big.img is larger than 67108860 bytes");
  EXPECT_EQ(plan(table, kUboot),
            "1 uboot: memory type 1 (nand), command 0 (write), 67108860 bytes from fits.img");
  EXPECT_EQ(plan(table, kDiag), "3 diag: memory type 4 (mem), command 2 (exe), 0 bytes (file "
                                "diag.bin is larger than 33554428 bytes)");
}

TEST_F(SectionReportTest, EnvironmentSectionNeedsSpiOrLpcAndNamesItsDescriptionFile) {
  folder_.write("env.ini", "[variable]\nvar_no=0\n");
  EXPECT_EQ(plan(read("[uboot_cfg]\nFilename=env.ini\nMem_type=LPC\n"), kUbootCfg),
            "4 uboot_cfg: memory type 3 (LPC), command 0 (write), environment image with the "
            "variables of env.ini (20 bytes)");
  EXPECT_EQ(plan(read("[uboot_cfg]\nMem_type=spi\n"), kUbootCfg),
            "4 uboot_cfg: memory type 2 (spi), command 0 (write), environment image, ethaddr "
            "only: description file BADID missing");
  EXPECT_EQ(plan(read("[uboot_cfg]\nFilename=env.ini\nMem_type=nand\n"), kUbootCfg),
            "4 uboot_cfg: skipped, Mem_type nand is not spi or lpc");
}

}  // namespace
}  // namespace skav::config
