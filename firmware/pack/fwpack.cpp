#include "firmware/pack/fwpack.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "firmware/packed_image.h"
#include "settings/file_replace.h"

namespace kelvro::fwpack {
namespace {

constexpr int kDone = 0;
constexpr int kBadInput = 1;
constexpr int kUsage = 2;

constexpr std::string_view kUsageText =
    "usage: kelvro-fwpack [--force] IN OUT   pack the controller image IN into OUT\n"
    "       kelvro-fwpack --check FILE       verify a packed image\n"
    "       kelvro-fwpack --test-image OUT   write the test image (not controller firmware)\n";

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%04X", static_cast<unsigned>(value));
  return text;
}

// Reads a whole file; false with the reason in `why`.
bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& why) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    why = "not a readable file";
    return false;
  }
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) {
    why = "cannot read its size";
    return false;
  }
  if (size > kMaxImageLength + kPackedChecksumSize) {
    why = "larger than " + std::to_string(kMaxImageLength) + " bytes, not a controller image";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  bytes.resize(static_cast<size_t>(size));
  if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    why = "cannot be read";
    return false;
  }
  return true;
}

// Writes OUT through a temporary file beside it, so that a failed write leaves no broken
// packed file behind.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (out)
      out.write(reinterpret_cast<const char*>(bytes.data()),
                static_cast<std::streamsize>(bytes.size()));
    if (!out || !out.flush()) {
      RemoveFileQuietly(temporary);
      why = "cannot be written";
      return false;
    }
  }
  if (!ReplaceFileAtomically(temporary, path)) {
    RemoveFileQuietly(temporary);
    why = "cannot be replaced";
    return false;
  }
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

int Check(const std::string& path, std::ostream& out, std::ostream& err) {
  std::vector<uint8_t> packed;
  std::string why;
  if (!ReadFile(path, packed, why)) {
    err << "kelvro-fwpack: " << path << ": " << why << "\n";
    return kBadInput;
  }
  const PackedImageCheck check = CheckPackedImage(packed);
  switch (check.status) {
    case PackedImageStatus::kOk:
      out << path << ": OK, image " << check.image_length << " bytes, checksum "
          << Hex16(check.stored) << "\n";
      return kDone;
    case PackedImageStatus::kNoImage:
      err << path << ": too short for an image and its checksum (" << packed.size() << " bytes)\n";
      return kBadInput;
    case PackedImageStatus::kBadChecksum:
      err << path << ": checksum mismatch: stored " << Hex16(check.stored) << ", computed "
          << Hex16(check.computed) << " over " << check.image_length << " bytes\n";
      return kBadInput;
  }
  return kBadInput;
}

int Pack(const std::string& in_path, const std::string& out_path, bool force, std::ostream& out,
         std::ostream& err) {
  if (in_path == out_path || SameFile(in_path, out_path)) {
    err << "kelvro-fwpack: IN and OUT are the same file; the image would be lost\n";
    return kBadInput;
  }
  std::vector<uint8_t> image;
  std::string why;
  if (!ReadFile(in_path, image, why)) {
    err << "kelvro-fwpack: " << in_path << ": " << why << "\n";
    return kBadInput;
  }
  if (image.empty()) {
    err << "kelvro-fwpack: " << in_path << ": empty, there is no image to pack\n";
    return kBadInput;
  }
  if (image.size() > kMaxImageLength) {
    err << "kelvro-fwpack: " << in_path << ": larger than " << kMaxImageLength
        << " bytes, not a controller image\n";
    return kBadInput;
  }
  if (!force && CheckPackedImage(image).ok()) {
    err << "kelvro-fwpack: " << in_path
        << ": already ends with the checksum of the bytes before it (packed already?); packing "
           "it again would send that checksum to the controller as image bytes. Use --force if "
           "it really is a raw controller image.\n";
    return kBadInput;
  }
  const std::vector<uint8_t> packed = PackImage(image);
  if (!WriteFile(out_path, packed, why)) {
    err << "kelvro-fwpack: " << out_path << ": " << why << "\n";
    return kBadInput;
  }
  out << out_path << ": image " << image.size() << " bytes, checksum " << Hex16(Crc16Xmodem(image))
      << "\n";
  return kDone;
}

int WriteTestImage(const std::string& out_path, std::ostream& out, std::ostream& err) {
  const std::vector<uint8_t> image = MakeTestImage();
  std::string why;
  if (!WriteFile(out_path, PackImage(image), why)) {
    err << "kelvro-fwpack: " << out_path << ": " << why << "\n";
    return kBadInput;
  }
  out << out_path << ": TEST IMAGE (not controller firmware), image " << image.size()
      << " bytes, checksum " << Hex16(Crc16Xmodem(image)) << "\n";
  return kDone;
}

}  // namespace

std::vector<uint8_t> MakeTestImage() {
  std::vector<uint8_t> image(kTestImageLength);
  std::copy(kTestImageLabel.begin(), kTestImageLabel.end(), image.begin());
  uint32_t state = 0x4B454C56;  // "KELV"
  for (size_t i = kTestImageLabel.size(); i < image.size(); ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    image[i] = static_cast<uint8_t>(state >> 24);
  }
  return image;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 2 && args[0] == "--check") return Check(args[1], out, err);
  if (args.size() == 2 && args[0] == "--test-image") return WriteTestImage(args[1], out, err);
  const bool force = !args.empty() && args[0] == "--force";
  const size_t first = force ? 1 : 0;
  if (args.size() == first + 2 && !args[first].starts_with("--") &&
      !args[first + 1].starts_with("--")) {
    return Pack(args[first], args[first + 1], force, out, err);
  }
  err << kUsageText;
  return kUsage;
}

}  // namespace kelvro::fwpack
