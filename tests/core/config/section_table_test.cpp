#include "core/config/section_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/temp_dir.h"

namespace skav::config {
namespace {

void expect_defaults(const SectionRecord& record, const char* name) {
  EXPECT_STREQ(record.name, name);
  EXPECT_STREQ(record.filename, "BADID");
  EXPECT_EQ(record.mem_src_addr, 0xFFFFFFFFu);
  EXPECT_EQ(record.mem_dst_addr, 0xFFFFFFFFu);
  EXPECT_STREQ(record.mem_type, "BADID");
  EXPECT_STREQ(record.command, "BADID");
}

// Every byte after a text's terminating zero is zero.
void expect_zero_after_text(const char* field, std::size_t capacity) {
  std::size_t length = std::strlen(field);
  for (std::size_t i = length; i < capacity; ++i) EXPECT_EQ(field[i], 0) << "offset " << i;
}

class SectionTableTest : public ::testing::Test {
 protected:
  SectionTable read(const std::string& content) {
    folder_.write("config.ini", content);
    SectionTable table;
    std::memset(static_cast<void*>(table.data()), 0xAB, sizeof table);  // stale garbage
    EXPECT_EQ(read_section_table(table, folder_ / "config.ini"), 1);
    return table;
  }
  test::TempDir folder_;
};

TEST_F(SectionTableTest, AbsentFileGivesFiveRecordsOfDefaultsInTheFixedOrder) {
  SectionTable table;
  std::memset(static_cast<void*>(table.data()), 0xAB, sizeof table);
  EXPECT_EQ(read_section_table(table, folder_ / "missing.ini"), 1);
  for (std::size_t i = 0; i < table.size(); ++i) {
    expect_defaults(table[i], kSectionNames[i]);
    expect_zero_after_text(table[i].name, sizeof table[i].name);
    expect_zero_after_text(table[i].filename, sizeof table[i].filename);
    expect_zero_after_text(table[i].mem_type, sizeof table[i].mem_type);
    expect_zero_after_text(table[i].command, sizeof table[i].command);
  }
}

TEST_F(SectionTableTest, SectionsInAnyOrderGiveRecordsInTheFixedOrder) {
  SectionTable table = read(
      "[diag]\nFilename=diag.bin\nMem_type=mem\n"
      "[uboot_cfg]\nFilename=env.ini\nMem_type=spi\n"
      "[kernel]\nFilename=zImage\nMem_Src_addr=0x2000\nMem_Dst_addr=0x40000\nMem_type=nand\n"
      "Command=write\n"
      "[filesystem]\nFilename=rootfs.img\n"
      "[uboot]\nFilename=u-boot.bin\n");
  EXPECT_STREQ(table[kKernel].name, "kernel");
  EXPECT_STREQ(table[kKernel].filename, "zImage");
  EXPECT_EQ(table[kKernel].mem_src_addr, 0x2000u);
  EXPECT_EQ(table[kKernel].mem_dst_addr, 0x40000u);
  EXPECT_STREQ(table[kKernel].mem_type, "nand");
  EXPECT_STREQ(table[kKernel].command, "write");
  EXPECT_STREQ(table[kUboot].filename, "u-boot.bin");
  EXPECT_STREQ(table[kFilesystem].filename, "rootfs.img");
  EXPECT_STREQ(table[kDiag].name, "diag");
  EXPECT_STREQ(table[kDiag].filename, "diag.bin");
  EXPECT_STREQ(table[kUbootCfg].name, "uboot_cfg");
  EXPECT_STREQ(table[kUbootCfg].mem_type, "spi");
  EXPECT_STREQ(table[kUbootCfg].command, "BADID");
}

TEST_F(SectionTableTest, CapitalSectionAndKeyNamesAreFound) {
  SectionTable table = read("[KERNEL]\nFILENAME=zImage\nMEM_DST_ADDR=524288\n");
  EXPECT_STREQ(table[kKernel].filename, "zImage");
  EXPECT_EQ(table[kKernel].mem_dst_addr, 524288u);
  EXPECT_EQ(table[kKernel].mem_src_addr, 0xFFFFFFFFu);  // absent: all bits set
}

TEST_F(SectionTableTest, OnlyUbootCfgLeavesTheOthersAtDefaultsAndForeignSectionsChangeNothing) {
  SectionTable table = read("[extra]\nFilename=x\n[uboot_cfg]\nFilename=env.ini\n");
  for (std::size_t i = 0; i < 4; ++i) expect_defaults(table[i], kSectionNames[i]);
  EXPECT_STREQ(table[kUbootCfg].filename, "env.ini");
}

TEST_F(SectionTableTest, OverLongTextsAreCutToTheirFieldsAndNeighboursStayIntact) {
  std::string long_name(200, 'f');
  SectionTable table = read("[kernel]\nFilename=" + long_name +
                            "\nMem_Src_addr=1\nMem_type=nandnandnandnandnand\n"
                            "Command=writewritewritewrite\n[uboot]\nFilename=u\n");
  EXPECT_EQ(std::string(table[kKernel].filename), std::string(127, 'f'));
  EXPECT_EQ(table[kKernel].mem_src_addr, 1u);
  EXPECT_STREQ(table[kKernel].mem_type, "nandnandnandnan");
  EXPECT_STREQ(table[kKernel].command, "writewritewrite");
  EXPECT_STREQ(table[kUboot].name, "uboot");
  EXPECT_STREQ(table[kUboot].filename, "u");
}

TEST_F(SectionTableTest, ReadingTwiceGivesByteIdenticalTables) {
  std::string content =
      "[kernel]\r\nFilename = \"zImage\"\r\nMem_type=nand\r\n[diag]\r\nFilename=d\r\n";
  SectionTable first = read(content);
  SectionTable second;
  std::memset(static_cast<void*>(second.data()), 0x5A, sizeof second);
  read_section_table(second, folder_ / "config.ini");
  EXPECT_EQ(std::memcmp(first.data(), second.data(), sizeof first), 0);
  EXPECT_STREQ(first[kKernel].filename, "zImage");
}

}  // namespace
}  // namespace skav::config
