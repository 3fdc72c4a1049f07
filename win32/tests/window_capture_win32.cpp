#include "win32/tests/window_capture_win32.h"

#include <algorithm>
#include <cstdio>

#include "ui/dib_win32.h"

namespace kelvro::test {
namespace {

void PutU32BigEndian(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 24));
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

// One chunk: length, type, data, CRC over type and data.
void PutChunk(std::vector<uint8_t>& out, const char (&type)[5], std::span<const uint8_t> data) {
  PutU32BigEndian(out, static_cast<uint32_t>(data.size()));
  const size_t type_at = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutU32BigEndian(out, Crc32(std::span<const uint8_t>(out.data() + type_at, 4 + data.size())));
}

// A zlib stream of stored (uncompressed) deflate blocks.
std::vector<uint8_t> ZlibStored(std::span<const uint8_t> data) {
  constexpr size_t kBlock = 65535;
  std::vector<uint8_t> out = {0x78, 0x01};
  size_t at = 0;
  do {
    const size_t length = std::min(kBlock, data.size() - at);
    const bool last = at + length == data.size();
    out.push_back(last ? 1 : 0);
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(~length));
    out.push_back(static_cast<uint8_t>(~length >> 8));
    out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(at),
               data.begin() + static_cast<ptrdiff_t>(at + length));
    at += length;
  } while (at < data.size());
  PutU32BigEndian(out, Adler32(data));
  return out;
}

}  // namespace

uint32_t Crc32(std::span<const uint8_t> bytes, uint32_t crc) {
  crc = ~crc;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

uint32_t Adler32(std::span<const uint8_t> bytes) {
  uint32_t a = 1;
  uint32_t b = 0;
  for (uint8_t byte : bytes) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

std::vector<uint8_t> EncodePng(const Pixels& image) {
  std::vector<uint8_t> raw;
  raw.reserve(static_cast<size_t>(image.height) * (1 + 3 * static_cast<size_t>(image.width)));
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < image.width; ++x) {
      const uint32_t pixel = image.at(x, y);
      raw.push_back(static_cast<uint8_t>(pixel >> 16));
      raw.push_back(static_cast<uint8_t>(pixel >> 8));
      raw.push_back(static_cast<uint8_t>(pixel));
    }
  }
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutU32BigEndian(header, static_cast<uint32_t>(image.width));
  PutU32BigEndian(header, static_cast<uint32_t>(image.height));
  header.insert(header.end(),
                {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter set, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", ZlibStored(raw));
  PutChunk(png, "IEND", {});
  return png;
}

bool WritePng(const std::string& path, const Pixels& image) {
  const std::vector<uint8_t> png = EncodePng(image);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  return std::fclose(file) == 0 && written;
}

std::optional<Pixels> CaptureWindow(HWND window) {
  if (!::IsWindow(window)) return std::nullopt;
  ::RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  RECT rect;
  ::GetWindowRect(window, &rect);
  Pixels image;
  image.width = rect.right - rect.left;
  image.height = rect.bottom - rect.top;
  if (image.width <= 0 || image.height <= 0) return std::nullopt;
  HDC source = ::GetWindowDC(window);
  if (!source) return std::nullopt;
  void* bits = nullptr;
  HBITMAP dib = CreateTopDownDib32(source, image.width, image.height, &bits);
  HDC target = ::CreateCompatibleDC(source);
  bool copied = false;
  if (dib && target && bits) {
    HGDIOBJ old = ::SelectObject(target, dib);
    copied = ::BitBlt(target, 0, 0, image.width, image.height, source, 0, 0, SRCCOPY) != 0;
    ::GdiFlush();
    ::SelectObject(target, old);
    if (copied) {
      const uint32_t* pixels = static_cast<const uint32_t*>(bits);
      image.rgb.assign(pixels, pixels + static_cast<size_t>(image.width) * image.height);
      for (uint32_t& pixel : image.rgb) pixel &= 0x00FFFFFF;
    }
  }
  if (target) ::DeleteDC(target);
  if (dib) ::DeleteObject(dib);
  ::ReleaseDC(window, source);
  if (!copied) return std::nullopt;
  return image;
}

std::string GalleryFolder() {
  char folder[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableA("KELVRO_GALLERY", folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  ::CreateDirectoryA(folder, nullptr);
  return folder;
}

bool CaptureToGallery(HWND window, const std::string& name) {
  const std::string folder = GalleryFolder();
  if (folder.empty()) return false;
  const std::optional<Pixels> image = CaptureWindow(window);
  return image && WritePng(folder + "\\" + name + ".png", *image);
}

}  // namespace kelvro::test
