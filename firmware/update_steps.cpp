#include "firmware/update_steps.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "device/wire.h"
#include "firmware/packed_image.h"

namespace kelvro {
namespace {

// Chunk addresses are 32 bits wide and start at 4; a longer image cannot be addressed.
constexpr size_t kMaxImageLength = 0xFFFFFF00u;

}  // namespace

FirmwareUpdateSteps::FirmwareUpdateSteps(DeviceLink& link, Clock& clock, HostWindow& window,
                                         UserMessages& messages, PackedImageSource* image)
    : link_(link), clock_(clock), window_(window), messages_(messages), image_(image) {}

bool FirmwareUpdateSteps::Run(FirmwareProgressView& view) {
  report_ = {};
  const uint32_t start = clock_.NowMs();
  report_.result = RunSteps(view);
  report_.elapsed_ms = clock_.NowMs() - start;
  return report_.result;
}

bool FirmwareUpdateSteps::RunSteps(FirmwareProgressView& view) {
  view.SetProgressRange(0, 100);
  view.SetProgress(0);

  std::vector<uint8_t> packed;
  if (image_ == nullptr || !image_->Load(packed)) {
    view.SetHeading("Error loading packed firmware file.");
    return false;
  }
  const PackedImageCheck check = CheckPackedImage(packed);
  report_.image_length = check.image_length;
  if (!check.ok() || check.image_length > kMaxImageLength) {
    view.SetHeading("Detected error in packed firmware file.");
    return false;
  }
  const std::span<const uint8_t> image = std::span<const uint8_t>(packed).first(check.image_length);

  view.SetStep("Erase...");
  DiscardStaleRead();
  if (!link_.SendCommand(CommandCode::FlashErase)) return Fail(view, "ERROR sending command!");
  if (!Acknowledged(view, "ERROR erasing!")) return false;

  if (!Upload(view, image)) return false;
  if (!Commit(view, static_cast<uint32_t>(image.size()))) return false;

  // The controller restarts with the new firmware and leaves the bus meanwhile.
  link_.Close();
  view.SetStep("Updating FLASH, please wait...");
  clock_.SleepMs(kFlashRestartWaitMs);
  if (!Reconnect()) return Fail(view, "Time out in operation!");

  messages_.Beep(Sound::kSuccess);
  view.SetStep("Done.");
  view.SetHeading("Update completed successfully.");
  return true;
}

bool FirmwareUpdateSteps::Fail(FirmwareProgressView& view, std::string_view text) {
  view.SetStep(text);
  messages_.Beep(Sound::kFailure);
  view.SetHeading("Error! Updating firmware failed.");
  return false;
}

void FirmwareUpdateSteps::DiscardStaleRead() {
  // The status drain before the update can leave a 60-byte read in flight. Its report
  // belongs to no flash command; taken as the erase reply, its first byte ("<") would fail
  // the update. It is collected and dropped here. A read that does not complete at all stays
  // in flight and then carries the erase reply, which is what the reply read expects.
  if (!link_.read_pending()) return;
  uint8_t scratch = 0;
  if (link_.PollStatus(&scratch, 1)) return;
  if (link_.read_pending() && link_.WaitStatus(kFlashReplyWaitMs)) link_.PollStatus(&scratch, 1);
}

bool FirmwareUpdateSteps::Acknowledged(FirmwareProgressView& view, std::string_view refused) {
  switch (ReadReply()) {
    case Reply::kOk:
      return true;
    case Reply::kMissing:
      return Fail(view, "ERROR reading status!");
    case Reply::kWrong:
      return Fail(view, refused);
  }
  return false;
}

FirmwareUpdateSteps::Reply FirmwareUpdateSteps::ReadReply() {
  uint8_t reply = 0;
  // The first poll starts the one-byte read; the second sees whether it completed at once.
  bool got = link_.PollStatus(&reply, 1);
  if (!got) got = link_.PollStatus(&reply, 1);
  if (!got && link_.read_pending() && link_.WaitStatus(kFlashReplyWaitMs)) {
    got = link_.PollStatus(&reply, 1);
  }
  if (!got) return Reply::kMissing;
  return reply == kFlashReplyOk ? Reply::kOk : Reply::kWrong;
}

bool FirmwareUpdateSteps::Upload(FirmwareProgressView& view, std::span<const uint8_t> image) {
  const uint64_t total = image.size();
  uint64_t sent = 0;  // bytes sent so far, padding included: the next chunk's address is 4 + sent
  size_t position = 0;
  int last_percent = -1;
  std::array<uint8_t, kFlashChunkMax> data{};
  while (position < image.size()) {
    const size_t take = std::min(image.size() - position, kFlashChunkMax);
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(position), take, data.begin());
    position += take;
    size_t length = take;
    while (length % 4 != 0) data[length++] = 0xFF;
    const auto address = static_cast<uint32_t>(4 + sent);
    sent += length;

    // The padding of the last chunk would carry a tiny image past 100 %.
    const int percent = static_cast<int>(std::min<uint64_t>(100, sent * 100 / total));
    if (percent != last_percent) {
      char text[32];
      std::snprintf(text, sizeof(text), "Uploading %d %%\r\n", percent);
      view.SetStep(text);
      view.SetProgress(percent);
      last_percent = percent;
    }

    // A failed send has closed the link (and said so); the reply read below then fails.
    link_.SendCommand(CommandCode::FlashWrite,
                      payload::FlashWrite(static_cast<uint32_t>(length), address,
                                          std::span<const uint8_t>(data.data(), length)));
    ++report_.chunks;
    report_.bytes += length;
    if (!Acknowledged(view, "ERROR uploading!")) return false;
    window_.DispatchPendingMessages();
  }
  return true;
}

bool FirmwareUpdateSteps::Commit(FirmwareProgressView& view, uint32_t image_length) {
  // The length word goes to address 0 once every chunk has been acknowledged.
  std::array<uint8_t, 4> word{};
  PutU32(word.data(), 0, image_length);
  link_.SendCommand(CommandCode::FlashWrite, payload::FlashWrite(4, 0, word));
  if (!Acknowledged(view, "ERROR uploading!")) return false;
  report_.committed = true;
  return true;
}

bool FirmwareUpdateSteps::Reconnect() {
  for (int attempt = 0; attempt < kFlashReconnectAttempts; ++attempt) {
    ++report_.reconnect_attempts;
    // Opening also reads the new firmware's version text.
    if (link_.Open()) return true;
    clock_.SleepMs(kFlashReconnectIntervalMs);
    window_.DispatchPendingMessages();
  }
  return false;
}

}  // namespace kelvro
