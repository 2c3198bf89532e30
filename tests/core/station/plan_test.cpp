#include "core/station/plan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/config/section_table.h"
#include "support/temp_dir.h"

namespace skav::station {
namespace {

// config.ini in a scratch folder, turned into the run's plan; the texts are those `skav config`
// shows.
class PlanTest : public ::testing::Test {
 protected:
  config::SectionTable read(const std::string& content) {
    folder_.write("config.ini", content);
    config::SectionTable table;
    config::read_section_table(table, folder_ / "config.ini");
    return table;
  }
  RunPlan plan(const std::string& content) { return make_plan(read(content), folder_.path()); }
  std::string describe(const std::string& content, StepSlot slot) {
    return describe_step(plan(content).step(slot));
  }
  std::string describe(const RunPlan& plan, StepSlot slot) { return describe_step(plan.step(slot)); }
  // A file of `size` bytes that takes no disk space.
  void sparse_file(const std::string& name, std::uintmax_t size) {
    folder_.write(name, "");
    std::filesystem::resize_file(folder_ / name, size);
  }
  test::TempDir folder_;
};

TEST_F(PlanTest, RecordLineShowsEveryFieldWithUpperCaseHexAddresses) {
  config::SectionTable table = read(
      "[kernel]\nFilename=zImage\nMem_Src_addr=0x2000\nMem_Dst_addr=0xabcdef\nMem_type=nand\n"
      "Command=write\n");
  EXPECT_EQ(format_section_record(0, table[config::kKernel]),
            "0 kernel Filename=zImage Mem_Src_addr=0x00002000 Mem_Dst_addr=0x00ABCDEF "
            "Mem_type=nand Command=write");
  EXPECT_EQ(format_section_record(3, table[config::kDiag]),
            "3 diag Filename=BADID Mem_Src_addr=0xFFFFFFFF Mem_Dst_addr=0xFFFFFFFF "
            "Mem_type=BADID Command=BADID");
}

TEST_F(PlanTest, ImageSectionsShowTheirCodesAndSize) {
  folder_.write("zImage", std::string(3000, 'k'));
  folder_.write("empty.bin", "");
  RunPlan p = plan(
      "[kernel]\nFilename=zImage\nMem_type=Nand\nCommand=WRITE\n"
      "[uboot]\nFilename=empty.bin\nMem_type=spi\nCommand=exe\n"
      "[diag]\nFilename=zImage\nMem_type=MEM\nCommand=BADID\n");
  EXPECT_EQ(describe(p, StepSlot::kKernel),
            "0 kernel: memory type 1 (Nand), command 0 (WRITE), 3000 bytes from zImage");
  EXPECT_EQ(describe(p, StepSlot::kUboot),
            "1 uboot: memory type 2 (spi), command 2 (exe), 0 bytes from empty.bin");
  EXPECT_EQ(describe(p, StepSlot::kDiag),
            "3 diag: memory type 4 (MEM), command 2 (exe), 3000 bytes from zImage");
}

TEST_F(PlanTest, SkippedSectionsSayWhy) {
  std::filesystem::create_directory(folder_ / "adir");
  RunPlan p = plan(
      "[kernel]\nFilename=zImage\nMem_type=mem\nCommand=write\n"
      "[uboot]\nFilename=u.bin\nMem_type=nand\nCommand=erase\n"
      "[filesystem]\nFilename=missing.img\nMem_type=lpc\nCommand=read\n"
      "[diag]\nFilename=adir\nMem_type=nand\n");
  EXPECT_EQ(describe(p, StepSlot::kKernel), "0 kernel: skipped, Mem_type mem is not nand, spi or lpc");
  EXPECT_EQ(describe(p, StepSlot::kUboot), "1 uboot: skipped, Command erase is not write, read or exe");
  EXPECT_EQ(describe(p, StepSlot::kFilesystem), "2 filesystem: skipped, file missing.img missing");
  EXPECT_EQ(describe(p, StepSlot::kDiag), "3 diag: skipped, Mem_type nand is not mem");
  EXPECT_EQ(describe("[kernel]\nMem_type=nand\nCommand=write\n", StepSlot::kKernel),
            "0 kernel: skipped, not configured");
  // The diagnostic image is started even without its file, with 0 bytes.
  EXPECT_EQ(describe("[diag]\nFilename=adir\nMem_type=mem\n", StepSlot::kDiag),
            "3 diag: memory type 4 (mem), command 2 (exe), 0 bytes (adir is not a file)");
}

TEST_F(PlanTest, FilesLargerThanTheirBufferAreSkipped) {
  sparse_file("big.img", kImageCapacity + 1ull);
  sparse_file("fits.img", kImageCapacity);
  sparse_file("diag.bin", kDiagCapacity + 1ull);
  RunPlan p = plan(
      "[kernel]\nFilename=big.img\nMem_type=nand\nCommand=write\n"
      "[uboot]\nFilename=fits.img\nMem_type=nand\nCommand=write\n"
      "[diag]\nFilename=diag.bin\nMem_type=mem\n");
  EXPECT_EQ(describe(p, StepSlot::kKernel),
            "0 kernel: skipped, file big.img is larger than 67108860 bytes");
  EXPECT_EQ(describe(p, StepSlot::kUboot),
            "1 uboot: memory type 1 (nand), command 0 (write), 67108860 bytes from fits.img");
  EXPECT_EQ(describe(p, StepSlot::kDiag), "3 diag: memory type 4 (mem), command 2 (exe), 0 bytes (file "
                                          "diag.bin is larger than 33554428 bytes)");
}

TEST_F(PlanTest, EnvironmentSectionNeedsSpiOrLpcAndNamesItsDescriptionFile) {
  folder_.write("env.ini", "[variable]\nvar_no=0\n");
  EXPECT_EQ(describe("[uboot_cfg]\nFilename=env.ini\nMem_type=LPC\n", StepSlot::kEnvironment),
            "4 uboot_cfg: memory type 3 (LPC), command 0 (write), environment image with the "
            "variables of env.ini (20 bytes)");
  EXPECT_EQ(describe("[uboot_cfg]\nMem_type=spi\n", StepSlot::kEnvironment),
            "4 uboot_cfg: memory type 2 (spi), command 0 (write), environment image, ethaddr "
            "only: description file BADID missing");
  EXPECT_EQ(describe("[uboot_cfg]\nFilename=env.ini\nMem_type=nand\n", StepSlot::kEnvironment),
            "4 uboot_cfg: skipped, Mem_type nand is not spi or lpc");
}

TEST_F(PlanTest, StepsComeInTheRunsOrderWithTheirHeaderFields) {
  folder_.write("k.bin", std::string(10, 'k'));
  folder_.write("images/fs.img", std::string(30, 'f'));
  RunPlan p = plan(
      "[uboot_cfg]\nFilename=env.ini\nMem_type=spi\nMem_Dst_addr=0x40000\n"
      "[kernel]\nFilename=k.bin\nMem_type=nand\nCommand=read\nMem_Src_addr=0x10\n"
      "Mem_Dst_addr=0x20\n"
      "[filesystem]\nFilename=images/fs.img\nMem_type=lpc\nCommand=exe\n"
      "[diag]\nFilename=" + (folder_ / "k.bin").string() + "\nMem_type=mem\nCommand=write\n");
  const StepSlot order[] = {StepSlot::kEnvironment, StepSlot::kKernel, StepSlot::kUboot,
                            StepSlot::kFilesystem, StepSlot::kDiag};
  for (std::size_t i = 0; i < kStepSlots; ++i) EXPECT_EQ(p.steps[i].slot, order[i]) << i;

  const PlanStep& kernel = p.step(StepSlot::kKernel);
  EXPECT_TRUE(kernel.used);
  EXPECT_EQ(kernel.memory, transfer::kNand);
  EXPECT_EQ(kernel.command, transfer::kRead);
  EXPECT_EQ(kernel.record.mem_src_addr, 0x10u);
  EXPECT_EQ(kernel.record.mem_dst_addr, 0x20u);
  EXPECT_EQ(kernel.file, folder_ / "k.bin") << "a relative name is taken from the folder";
  EXPECT_FALSE(p.step(StepSlot::kUboot).used);
  EXPECT_EQ(p.step(StepSlot::kUboot).skip_reason, "not configured");
  EXPECT_EQ(p.step(StepSlot::kFilesystem).command, transfer::kExe);
  // The diagnostic image is started whatever its Command says; an absolute name stays as it is.
  const PlanStep& diag = p.step(StepSlot::kDiag);
  EXPECT_EQ(diag.command, transfer::kExe);
  EXPECT_EQ(diag.file, folder_ / "k.bin");
  EXPECT_EQ(diag.size, 10u);
  const PlanStep& environment = p.step(StepSlot::kEnvironment);
  EXPECT_TRUE(environment.used);
  EXPECT_EQ(environment.command, transfer::kWrite);
  EXPECT_FALSE(environment.file_problem.empty()) << "env.ini was not written";
}

TEST_F(PlanTest, TheImageBufferFitsTheLargestImageASectionStepLoads) {
  folder_.write("small.bin", std::string(10, 's'));
  folder_.write("large.bin", std::string(3000, 'l'));
  folder_.write("diag.bin", std::string(5000, 'd'));
  // The diagnostic image has its own buffer; a skipped section loads nothing.
  EXPECT_EQ(plan("[kernel]\nFilename=small.bin\nMem_type=nand\nCommand=write\n"
                 "[uboot]\nFilename=large.bin\nMem_type=spi\nCommand=exe\n"
                 "[filesystem]\nFilename=diag.bin\nMem_type=mem\nCommand=write\n"
                 "[diag]\nFilename=diag.bin\nMem_type=mem\n")
                .largest_image(),
            3000u);
  EXPECT_EQ(plan("[kernel]\nFilename=none.bin\nMem_type=nand\nCommand=write\n").largest_image(), 0u);
}

}  // namespace
}  // namespace skav::station
