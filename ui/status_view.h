// The status window's content, computed without a window: the text of every line with the
// caches that keep rarely changing lines from being rewritten, the online and offline views,
// and the line indicator (the "In:" and "Out:" rows of boxes) painted into pixels. The Win32
// window only sets the texts this model wrote and blits the indicator's pixels.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "motion/status_snapshot.h"
#include "resources/resource_ids.h"
#include "ui/canvas.h"
#include "ui/pixel_image.h"

namespace kelvro {

// The "In:" and "Out:" rows: 16 boxes each, sized from the indicator's width.
class StatusIndicator {
 public:
  static constexpr int kBoxes = 16;
  // "In:" boxes from this one on stay unfilled (the controller has 14 inputs).
  static constexpr int kInputBoxes = 14;
  static constexpr int kRowGap = 8;
  static constexpr Colour kInOn = MakeColour(0, 255, 0);
  static constexpr Colour kInOff = MakeColour(0, 55, 0);
  static constexpr Colour kOutOn = MakeColour(255, 0, 0);
  static constexpr Colour kOutOff = MakeColour(55, 0, 0);

  struct Box {
    PixelRect in;
    PixelRect out;
  };
  // Box i's outline rectangles for an indicator `width` pixels wide.
  static std::array<Box, kBoxes> Layout(int width);

  void Set(uint16_t in_word, uint16_t out_word, bool offline) {
    in_word_ = in_word;
    out_word_ = out_word;
    offline_ = offline;
  }
  uint16_t in_word() const { return in_word_; }
  uint16_t out_word() const { return out_word_; }
  bool offline() const { return offline_; }

  // Outlines in black, insides filled by the bits; nothing between the boxes.
  void Paint(Canvas& canvas, int width) const;
  // The indicator as pixels over `background` (the dialog's colour shows between boxes).
  PixelImage Render(int width, int height, Colour background) const;

 private:
  uint16_t in_word_ = 0;
  uint16_t out_word_ = 0;
  bool offline_ = true;
};

class StatusView {
 public:
  // The text lines, in the order a log lists them; then the six step counters.
  static constexpr std::array<int, 7> kLines = {
      IDC_STATUS_LINK,      IDC_STATUS_SEQUENCE, IDC_STATUS_BUFFER,  IDC_STATUS_THC,
      IDC_STATUS_THREADING, IDC_STATUS_ANALOG,   IDC_STATUS_ENCODERS};
  static constexpr int kFirstCounter = IDC_STATUS_COUNTER_X;
  static constexpr int kCounters = 6;
  static constexpr char kOfflineText[] = "OFFLINE, press RESET";

  StatusView();

  // The online view of one report; returns the controls whose text was written.
  std::vector<int> ShowOnline(const StatusSnapshot& snapshot);
  // The offline view; returns the controls whose text was written.
  std::vector<int> ShowOffline();

  // The text control `id` shows now (empty for an unknown id).
  const std::string& Text(int id) const;
  bool online() const { return online_; }
  const StatusIndicator& indicator() const { return indicator_; }

 private:
  void Write(int id, std::string text, std::vector<int>& written);
  void ResetCaches();

  std::map<int, std::string> texts_;
  StatusIndicator indicator_;
  bool online_ = false;
  // Change caches: what the rarely changing lines were last written from.
  int mode_ = -1;
  int sequence_ = -1;
  int thc_bits_ = -1;
  int threading_ = -1;
  std::optional<std::array<int32_t, 2>> encoders_;
};

// "IDLE" ... "RDOWN", or the number of a mode the names do not cover.
std::string StatusModeText(uint8_t mode);
// "NONE" ... "MPG", or the number of a sequence the names do not cover.
std::string StatusSequenceText(uint8_t sequence);

}  // namespace kelvro
