#include "ui/status_view.h"

#include <cstdio>

namespace kelvro {
namespace {

constexpr uint8_t kThcBits =
    kStatusFlagThcActive | kStatusFlagArcOk | kStatusFlagTorchUp | kStatusFlagTorchDown;
constexpr double kAnalogVolts = 3.3 / 65535.0;

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[96];
  const int length = std::snprintf(text, sizeof(text), format, args...);
  if (length < 0) return {};
  return std::string(text, static_cast<size_t>(length) < sizeof(text) ? static_cast<size_t>(length)
                                                                      : sizeof(text) - 1);
}

std::string ThcText(int bits) {
  std::string text = "THC mode: ";
  text += (bits & kStatusFlagThcActive) ? "ON" : "OFF";
  if (bits & kStatusFlagArcOk) text += "/Arc";
  if (bits & kStatusFlagTorchUp) text += "/Up";
  if (bits & kStatusFlagTorchDown) text += "/Down";
  return text;
}

}  // namespace

std::string StatusModeText(uint8_t mode) {
  if (mode <= static_cast<uint8_t>(Mode::RDOWN)) return std::string(ModeName(mode));
  return std::to_string(mode);
}

std::string StatusSequenceText(uint8_t sequence) {
  if (sequence <= static_cast<uint8_t>(Sequence::MPG)) return std::string(SequenceName(sequence));
  return std::to_string(sequence);
}

std::array<StatusIndicator::Box, StatusIndicator::kBoxes> StatusIndicator::Layout(int width) {
  std::array<Box, kBoxes> boxes{};
  const int a = width > 0 ? width * 4 / 79 : 0;
  const double pitch = static_cast<double>(width - a) / 15.0;
  for (int i = 0; i < kBoxes; ++i) {
    const int left = static_cast<int>(i * pitch);
    const int right = static_cast<int>(i * pitch + a);
    boxes[static_cast<size_t>(i)].in = {left, 0, right, a};
    boxes[static_cast<size_t>(i)].out = {left, a + kRowGap, right, 2 * a + kRowGap};
  }
  return boxes;
}

void StatusIndicator::Paint(Canvas& canvas, int width) const {
  const auto shrink = [](const PixelRect& r) {
    return PixelRect{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
  };
  const auto boxes = Layout(width);
  for (int i = 0; i < kBoxes; ++i) {
    const Box& box = boxes[static_cast<size_t>(i)];
    canvas.Frame(box.in, kBlack);
    canvas.Frame(box.out, kBlack);
    const bool in_on = ((in_word_ >> i) & 1u) != 0;
    const bool out_on = ((out_word_ >> i) & 1u) != 0;
    if (i < kInputBoxes) canvas.Fill(shrink(box.in), in_on ? kInOn : kInOff);
    canvas.Fill(shrink(box.out), out_on ? kOutOn : kOutOff);
  }
}

PixelImage StatusIndicator::Render(int width, int height, Colour background) const {
  PixelImage image(width, height, background);
  PixelCanvas canvas(image, background);
  Paint(canvas, width);
  return image;
}

StatusView::StatusView() {
  for (int id : kLines) texts_[id];
  texts_[kLines[0]] = kOfflineText;
  for (int k = 0; k < kCounters; ++k) texts_[kFirstCounter + k] = "0";
}

const std::string& StatusView::Text(int id) const {
  static const std::string kNone;
  const auto found = texts_.find(id);
  return found != texts_.end() ? found->second : kNone;
}

void StatusView::Write(int id, std::string text, std::vector<int>& written) {
  texts_[id] = std::move(text);
  written.push_back(id);
}

void StatusView::ResetCaches() {
  mode_ = -1;
  sequence_ = -1;
  thc_bits_ = -1;
  threading_ = -1;
  encoders_.reset();
}

std::vector<int> StatusView::ShowOnline(const StatusSnapshot& snapshot) {
  const StatusPacket& p = snapshot.packet;
  std::vector<int> written;
  online_ = true;
  if (p.mode != mode_) {
    Write(IDC_STATUS_LINK, "Online, mode= " + StatusModeText(p.mode), written);
    mode_ = p.mode;
  }
  if (p.sequence != sequence_) {
    Write(IDC_STATUS_SEQUENCE, "Sequence: " + StatusSequenceText(p.sequence), written);
    sequence_ = p.sequence;
  }
  Write(IDC_STATUS_BUFFER,
        Format("Buffer: %d %% (%d ms)", p.buffer_fill * 100 / 1000, int{p.buffer_fill}), written);
  const int threading = snapshot.threading ? 1 : 0;
  if (threading != threading_) {
    Write(IDC_STATUS_THREADING, Format("Threading: %s", threading ? "ON" : "OFF"), written);
    threading_ = threading;
  }
  if (snapshot.zcorr_active) {
    Write(IDC_STATUS_THC, Format("Zcorr= ON, Zorig=%6.4lf", snapshot.z_original), written);
    // The THC line is written again once correction ends.
    thc_bits_ = -1;
  } else if ((p.flags & kThcBits) != thc_bits_) {
    thc_bits_ = p.flags & kThcBits;
    Write(IDC_STATUS_THC, ThcText(thc_bits_), written);
  }
  for (int k = 0; k < kCounters - 1; ++k) {
    Write(kFirstCounter + k, std::to_string(p.positions[static_cast<size_t>(k)]), written);
  }
  const int32_t sixth = snapshot.spindle_axis ? p.thc_z_offset : p.positions[5];
  Write(kFirstCounter + 5, std::to_string(sixth), written);
  indicator_.Set(p.inputs, p.line_word, false);
  Write(IDC_STATUS_ANALOG, Format("Analog: %5.3f V", p.analog_raw * kAnalogVolts), written);
  const std::array<int32_t, 2> encoders = {p.enc1, p.enc2};
  if (encoders_ != encoders) {
    Write(IDC_STATUS_ENCODERS,
          Format("enc1=%d, enc2=%d", static_cast<int>(p.enc1), static_cast<int>(p.enc2)), written);
    encoders_ = encoders;
  }
  return written;
}

std::vector<int> StatusView::ShowOffline() {
  std::vector<int> written;
  online_ = false;
  Write(kLines[0], kOfflineText, written);
  for (size_t i = 1; i < kLines.size(); ++i) Write(kLines[i], "", written);
  indicator_.Set(0, 0, true);
  ResetCaches();
  return written;
}

}  // namespace kelvro
