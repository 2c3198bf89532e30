#include "core/config/environment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "support/rig.h"
#include "support/temp_dir.h"

namespace skav::config {
namespace {

using test::digits_of;
constexpr auto text_of = MacDigits::text;

// The entry list as the image holds it: each entry and its zero, then the list's closing zero.
std::string list_of(std::initializer_list<std::string> entries) {
  std::string out;
  for (const std::string& e : entries) out += e + std::string(1, '\0');
  return out + std::string(1, '\0');
}

// A bit-at-a-time CRC-32 written independently of the table-driven one under test.
std::uint32_t bitwise_crc32(const std::uint8_t* data, std::size_t length) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

class EnvironmentTest : public ::testing::Test {
 protected:
  EnvironmentTest() {
    std::memset(&record_, 0, sizeof record_);
    std::strcpy(record_.name, "uboot_cfg");
    std::strcpy(record_.filename, "env.ini");
    std::strcpy(record_.mem_type, "spi");
  }

  // Builds the image for `mac` from a description file with this content (none when null).
  const EnvironmentImage& build(const char* mac, const char* description) {
    if (description != nullptr) folder_.write("env.ini", description);
    build_environment_image(&log_, record_, digits_of(mac), folder_.path(), *image_);
    return *image_;
  }

  // The meaningful bytes from offset 5 up to the Used Length, as text (zero bytes kept).
  std::string entries() const {
    return std::string(reinterpret_cast<const char*>(image_->bytes.data()) + 5,
                       image_->used_length - 5);
  }

  void expect_well_formed() const {
    const auto& b = image_->bytes;
    EXPECT_EQ(b[4], 1);
    ASSERT_GE(image_->used_length, 32u);
    EXPECT_EQ(b[image_->used_length - 1], 0);
    EXPECT_EQ(b[image_->used_length - 2], 0);
    for (std::size_t i = image_->used_length; i < kEnvironmentSize; ++i)
      ASSERT_EQ(b[i], 0xFF) << "offset " << i;
    std::uint32_t stored =
        static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
        static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    EXPECT_EQ(stored, bitwise_crc32(b.data() + 5, kEnvironmentSize - 5));
  }

  test::TempDir folder_;
  StringLog log_;
  SectionRecord record_;
  std::unique_ptr<EnvironmentImage> image_ = std::make_unique<EnvironmentImage>();
};

TEST(EnvironmentCrc, MatchesTheStandardCheckValue) {
  const char* check = "123456789";
  EXPECT_EQ(crc32(reinterpret_cast<const std::uint8_t*>(check), 9), 0xCBF43926u);
  EXPECT_EQ(crc32(nullptr, 0), 0u);
}

TEST(EnvironmentCrc, CoversExactly65531Bytes) {
  auto data = std::make_unique<std::uint8_t[]>(kEnvironmentSize);
  for (std::size_t i = 0; i < kEnvironmentSize; ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(environment_crc(data.get()), bitwise_crc32(data.get(), 65531));
  data[65531] ^= 0xFF;  // beyond the covered range
  EXPECT_EQ(environment_crc(data.get()), bitwise_crc32(data.get(), 65531));
}

TEST_F(EnvironmentTest, WithoutADescriptionFileTheImageHoldsEthaddrOnly) {
  const EnvironmentImage& image = build("001122334455", nullptr);
  EXPECT_EQ(image.used_length, 32u);
  const std::uint8_t head[] = {0x96, 0xFF, 0x38, 0x1B, 0x01};
  EXPECT_EQ(std::memcmp(image.bytes.data(), head, sizeof head), 0);
  const char body[] = "ethaddr=00:11:22:33:44:55\0";  // plus the array's own zero: offsets 30, 31
  EXPECT_EQ(std::memcmp(image.bytes.data() + 5, body, sizeof body), 0);
  EXPECT_EQ(image.bytes[30], 0);
  EXPECT_EQ(image.bytes[31], 0);
  EXPECT_FALSE(image.has_mac_variable);
  EXPECT_EQ(text_of(image.next_mac), "001122334455");
  EXPECT_EQ(log_.text(), "");
  expect_well_formed();
}

TEST_F(EnvironmentTest, MacVariableTemplateReceivesTheAddress) {
  const EnvironmentImage& image =
      build("001122334455",
            "[variable]\nvar_no=1\nvariable00=MAC0\n[argument]\nMAC0=00:00:00:00:00:00\n");
  EXPECT_EQ(image.used_length, 55u);
  const char entry[] = "MAC0=00:11:22:33:44:55";
  EXPECT_EQ(std::memcmp(image.bytes.data() + 31, entry, sizeof entry), 0);  // 31..53, zero at 53
  EXPECT_EQ(image.bytes[54], 0);
  EXPECT_TRUE(image.has_mac_variable);
  EXPECT_EQ(text_of(image.next_mac), "001122334456");
  EXPECT_EQ(log_.text(), "");
  expect_well_formed();
}

TEST_F(EnvironmentTest, LowerCaseDigitsKeepTheirCaseButTheNextMacIsUpperCase) {
  build("00a0b1c2d3e4",
        "[variable]\nvar_no=1\nvariable00=MAC0\n[argument]\nMAC0=xx:xx:xx:xx:xx:xx\n");
  EXPECT_EQ(entries(), list_of({"ethaddr=00:a0:b1:c2:d3:e4", "MAC0=00:a0:b1:c2:d3:e4"}));
  EXPECT_EQ(text_of(image_->next_mac), "00A0B1C2D3E5");
}

TEST_F(EnvironmentTest, TemplateSeparatorsAndTailAreKept) {
  build("001122334455",
        "[variable]\nvar_no=2\nvariable00=MAC0\nvariable01=GMAC\n"
        "[argument]\nMAC0=..-..-..-..-..-..\nGMAC=ABCDEFGHIJKLMNOPQRST\n");
  EXPECT_EQ(entries(), list_of({"ethaddr=00:11:22:33:44:55", "MAC0=00-11-22-33-44-55",
                                "GMAC=00C11F22I33L44O55RST"}));
  expect_well_formed();
}

TEST_F(EnvironmentTest, EveryMacVariableGetsTheSameAddressAndNextMac) {
  build("0011FFFFFFFF",
        "[variable]\nvar_no=3\nvariable00=mac1\nvariable01=bootdelay\nvariable02=Mac0\n"
        "[argument]\nmac1=00:00:00:00:00:00\nbootdelay=3\nMac0=00:00:00:00:00:00\n");
  EXPECT_EQ(entries(), list_of({"ethaddr=00:11:FF:FF:FF:FF", "mac1=00:11:FF:FF:FF:FF",
                                "bootdelay=3", "Mac0=00:11:FF:FF:FF:FF"}));
  EXPECT_EQ(text_of(image_->next_mac), "001200000000");
}

TEST_F(EnvironmentTest, VariablesWithoutNameOrValueAreLeftOutAndLaterOnesStillRead) {
  build("001122334455",
        "[variable]\nvar_no=5\nvariable00=first\nvariable02=third\nvariable03=novalue\n"
        "variable04=Bad\n"
        "[argument]\nfirst=1\nthird=3\nBad=badid\n");
  EXPECT_EQ(entries(), list_of({"ethaddr=00:11:22:33:44:55", "first=1", "third=3"}));
  EXPECT_FALSE(image_->has_mac_variable);
  expect_well_formed();
}

TEST_F(EnvironmentTest, NamesAndValuesKeepTheirCaseAndAnEthaddrVariableIsASecondEntry) {
  build("001122334455",
        "[VARIABLE]\nVAR_NO=2\nvariable00=ethaddr\nvariable01=BootCmd\n"
        "[argument]\nethaddr=02:00:00:00:00:01\nbootcmd=Run Boot\n");
  EXPECT_EQ(entries(), list_of({"ethaddr=00:11:22:33:44:55", "ethaddr=02:00:00:00:00:01",
                                "BootCmd=Run Boot"}));
}

TEST_F(EnvironmentTest, ZeroOrNegativeVariableCountReadsNoVariables) {
  build("001122334455", "[variable]\nvar_no=-1\nvariable00=a\n[argument]\na=1\n");
  EXPECT_EQ(image_->used_length, 32u);
  build("001122334455", "[variable]\nvar_no=0\nvariable00=a\n[argument]\na=1\n");
  EXPECT_EQ(image_->used_length, 32u);
}

TEST_F(EnvironmentTest, ShortTemplateGetsOnlyTheDigitsThatFitAndAWarning) {
  build("001122334455",
        "[variable]\nvar_no=2\nvariable00=MAC0\nvariable01=MAC1\n"
        "[argument]\nMAC0=00:00:0\nMAC1=\"\"\n");
  EXPECT_EQ(entries(), list_of({"ethaddr=00:11:22:33:44:55", "MAC0=00:11:2", "MAC1="}));
  std::string log = log_.text();
  EXPECT_NE(log.find("MAC0"), std::string::npos);
  EXPECT_NE(log.find("MAC1"), std::string::npos);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
  expect_well_formed();
}

TEST_F(EnvironmentTest, MoreThan64VariablesReadsTheFirst64WithAWarning) {
  std::string file = "[variable]\nvar_no=70\n";
  std::string arguments = "[argument]\n";
  std::string expected("ethaddr=00:11:22:33:44:55\0", 26);
  for (int j = 0; j < 70; ++j) {
    char line[64];
    std::snprintf(line, sizeof line, "variable%02d=v%02d\n", j, j);
    file += line;
    std::snprintf(line, sizeof line, "v%02d=%d\n", j, j);
    arguments += line;
    if (j < 64) {
      std::snprintf(line, sizeof line, "v%02d=%d", j, j);
      expected += line;
      expected.push_back('\0');
    }
  }
  expected.push_back('\0');
  build("001122334455", (file + arguments).c_str());
  EXPECT_EQ(entries(), expected);
  std::string log = log_.text();
  EXPECT_NE(log.find("70"), std::string::npos);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

TEST_F(EnvironmentTest, LongNamesAndValuesAreCutToTheirSlots) {
  std::string value(300, 'v');
  std::string file =
      "[variable]\nvar_no=2\nvariable00=ABCDEFGHIJKLMNOPQ\nvariable01=long\n"
      "[argument]\nABCDEFGHIJKLMNO=cut name\nlong=" +
      value + "\n";
  build("001122334455", file.c_str());
  EXPECT_EQ(entries(), list_of({"ethaddr=00:11:22:33:44:55", "ABCDEFGHIJKLMNO=cut name",
                                "long=" + std::string(255, 'v')}));
  EXPECT_NE(log_.text().find("ABCDEFGHIJKLMNO"), std::string::npos);
}

TEST_F(EnvironmentTest, SixtyFourFullSlotsGiveTheLargestImage) {
  std::string file = "[variable]\nvar_no=64\n";
  std::string arguments = "[argument]\n";
  for (int j = 0; j < 64; ++j) {
    char name[32];
    std::snprintf(name, sizeof name, "name_%010d", j);  // 15 characters
    file += "variable" + std::string(j < 10 ? "0" : "") + std::to_string(j) + "=" + name + "\n";
    arguments += std::string(name) + "=" + std::string(255, static_cast<char>('a' + j % 26)) + "\n";
  }
  build("001122334455", (file + arguments).c_str());
  EXPECT_EQ(image_->used_length, 32u + 64u * 272u);
  EXPECT_EQ(log_.text(), "");
  expect_well_formed();
}

TEST_F(EnvironmentTest, LastAddressWrapsToZeroWithAWarning) {
  build("FFFFFFFFFFFF",
        "[variable]\nvar_no=2\nvariable00=MAC0\nvariable01=MAC1\n"
        "[argument]\nMAC0=00:00:00:00:00:00\nMAC1=00:00:00:00:00:00\n");
  EXPECT_EQ(text_of(image_->next_mac), "000000000000");
  std::string log = log_.text();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);  // reported once, not per variable
  EXPECT_NE(log.find("FFFFFFFFFFFF"), std::string::npos);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

TEST(NextMac, AddsOneWithCarryIntoTheUpperPart) {
  EXPECT_EQ(text_of(next_mac(digits_of("001122334455"))), "001122334456");
  EXPECT_EQ(text_of(next_mac(digits_of("0011FFFFFFFF"))), "001200000000");
  EXPECT_EQ(text_of(next_mac(digits_of("00a0b1c2d3e4"))), "00A0B1C2D3E5");
  EXPECT_EQ(text_of(next_mac(digits_of("FFFEFFFFFFFF"))), "FFFF00000000");
}

TEST(NextMac, TheLastAddressWrapsAndSaysSo) {
  bool wrapped = false;
  EXPECT_EQ(text_of(next_mac(digits_of("FFFFFFFFFFFF"), wrapped)), "000000000000");
  EXPECT_TRUE(wrapped);
  EXPECT_EQ(text_of(next_mac(digits_of("FFFFFFFFFFFE"), wrapped)), "FFFFFFFFFFFF");
  EXPECT_FALSE(wrapped);
}

TEST(NextMac, EachPartTakesItsLeadingHexadecimalDigitsOnly) {
  EXPECT_EQ(text_of(next_mac(digits_of("00112233445G"))), "001102233446");
  EXPECT_EQ(text_of(next_mac(digits_of("0Z11ZZZZZZZZ"))), "000000000001");
}

}  // namespace
}  // namespace skav::config
