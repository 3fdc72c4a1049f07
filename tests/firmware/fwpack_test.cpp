// kelvro-fwpack: packing, checking, refusals that lose nothing, and the shipped test image.
#include "firmware/pack/fwpack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/firmware/update_rig.h"

namespace kelvro::test {
namespace {

namespace fs = std::filesystem;

class Fwpack : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("kelvro_fwpack_") + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(Path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  static std::vector<uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  }
  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    return fwpack::Run(args, out_, err_);
  }

  fs::path dir_;
  std::ostringstream out_;
  std::ostringstream err_;
};

TEST_F(Fwpack, PacksAnImage) {
  const std::vector<uint8_t> image = PatternImage(1234);
  Write("raw.bin", image);
  EXPECT_EQ(Run({Path("raw.bin"), Path("packed.bin")}), 0);
  EXPECT_EQ(Read(Path("packed.bin")), PackByHand(image));
  EXPECT_NE(out_.str().find("image 1234 bytes"), std::string::npos) << out_.str();
  EXPECT_FALSE(fs::exists(Path("packed.bin.tmp")));
}

TEST_F(Fwpack, ChecksAPackedImage) {
  Write("packed.bin", PackByHand(PatternImage(300)));
  EXPECT_EQ(Run({"--check", Path("packed.bin")}), 0);
  EXPECT_NE(out_.str().find(": OK, image 300 bytes, checksum 0x"), std::string::npos) << out_.str();
}

TEST_F(Fwpack, CheckFindsDamage) {
  std::vector<uint8_t> packed = PackByHand(PatternImage(300));
  packed[17] ^= 0x40;
  Write("packed.bin", packed);
  EXPECT_EQ(Run({"--check", Path("packed.bin")}), 1);
  EXPECT_NE(err_.str().find("checksum mismatch: stored 0x"), std::string::npos) << err_.str();
  Write("short.bin", {0x12, 0x34});
  EXPECT_EQ(Run({"--check", Path("short.bin")}), 1);
  EXPECT_NE(err_.str().find("too short"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"--check", Path("missing.bin")}), 1);
  EXPECT_NE(err_.str().find("not a readable file"), std::string::npos) << err_.str();
}

TEST_F(Fwpack, RefusesAnImageThatIsPackedAlready) {
  const std::vector<uint8_t> packed = PackByHand(PatternImage(500));
  Write("packed.bin", packed);
  EXPECT_EQ(Run({Path("packed.bin"), Path("twice.bin")}), 1);
  EXPECT_NE(err_.str().find("packed already?"), std::string::npos) << err_.str();
  EXPECT_FALSE(fs::exists(Path("twice.bin")));
  // Unless told that it is raw after all.
  EXPECT_EQ(Run({"--force", Path("packed.bin"), Path("twice.bin")}), 0);
  EXPECT_EQ(Read(Path("twice.bin")), PackByHand(packed));
}

TEST_F(Fwpack, RefusalsLoseNothing) {
  const std::vector<uint8_t> image = PatternImage(64);
  Write("raw.bin", image);
  EXPECT_EQ(Run({Path("raw.bin"), Path("raw.bin")}), 1);
  EXPECT_EQ(Read(Path("raw.bin")), image);
  Write("empty.bin", {});
  EXPECT_EQ(Run({Path("empty.bin"), Path("out.bin")}), 1);
  EXPECT_NE(err_.str().find("empty"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({Path("nothing.bin"), Path("out.bin")}), 1);
  EXPECT_FALSE(fs::exists(Path("out.bin")));
  // An output that cannot be written leaves the old one alone.
  fs::create_directories(Path("dir"));
  EXPECT_EQ(Run({Path("raw.bin"), Path("dir")}), 1);
  EXPECT_TRUE(fs::is_directory(Path("dir")));
}

TEST_F(Fwpack, UsageErrors) {
  EXPECT_EQ(Run({}), 2);
  EXPECT_NE(err_.str().find("usage: kelvro-fwpack"), std::string::npos);
  EXPECT_EQ(Run({"only-one"}), 2);
  EXPECT_EQ(Run({"--check"}), 2);
  EXPECT_EQ(Run({"--bogus", "a", "b"}), 2);
  EXPECT_EQ(Run({"a", "b", "c"}), 2);
}

TEST_F(Fwpack, TestImageIsGeneratedBytesWithTheirLabel) {
  const std::vector<uint8_t> image = fwpack::MakeTestImage();
  ASSERT_EQ(image.size(), 93434u);
  const std::string start(image.begin(), image.begin() + 30);
  EXPECT_EQ(start, "KELVRO TEST IMAGE - generated ");
  EXPECT_EQ(Run({"--test-image", Path("test.bin")}), 0);
  EXPECT_EQ(Read(Path("test.bin")), PackByHand(image));
  EXPECT_NE(out_.str().find("TEST IMAGE (not controller firmware)"), std::string::npos);
}

TEST_F(Fwpack, ShippedTestImageIsTheOneThePackerMakes) {
  const std::vector<uint8_t> shipped = Read(
      std::string(KELVRO_SOURCE_DIR) + "/resources/firmware/kelvro-test-image-NOT-FIRMWARE.bin");
  EXPECT_EQ(shipped.size(), 93436u);
  EXPECT_EQ(shipped, PackByHand(fwpack::MakeTestImage()));
}

}  // namespace
}  // namespace kelvro::test
