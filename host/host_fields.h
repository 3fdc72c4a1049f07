// The host's numbers the plugin refers to: axes, LEDs, DROs, buttons, notification codes,
// menu command ids, input records and parameters. Each number is named once, here.
#pragma once

namespace kelvro {

// Axes in the order the host and the controller number them.
inline constexpr int kAxisX = 0;
inline constexpr int kAxisY = 1;
inline constexpr int kAxisZ = 2;
inline constexpr int kAxisA = 3;
inline constexpr int kAxisB = 4;
inline constexpr int kAxisC = 5;

// LEDs (read with GetLED, written with SetLED).
enum HostLed : int {
  kLedMpgMode = 106,         // read each Update: MPG jog mode
  kLedProbeLogTiming = 804,  // read each Update: probe-log timing edges
  kLedThcOffsetOff = 805,    // read each tick: THC Z offset not applied
  kLedTorchSignal = 1500,    // set each tick from status flag bit 6
  kLedManualThc = 1501,      // set each Update: manual THC by Num Lock
};

// DROs (read with GetDRO, written with SetDRO).
enum HostDro : int {
  kDroWorkOffsetX = 47,  // X, Y, Z work offsets at 47, 48, 49
  kDroWorkOffsetY = 48,
  kDroWorkOffsetZ = 49,
  kDroSpindleOverride = 74,  // target of mapping function 2
  kDroPierceDelay = 177,     // seconds
  kDroFeedOverride = 821,    // target of mapping function 1
  kDroTorchVolts = 1500,     // THC voltage reading
  kDroTargetVolts = 1501,    // THC nominal voltage
};

// Buttons (pressed with DoButton).
enum HostButton : int {
  kButtonAlternativeHoming = 105,  // pressed when the alternative-homing flag rises
  kButtonStop = 1003,              // pressed when a probe move cannot run or misses
};

// Notification codes of Notify (besides the three menu command ids).
enum HostNotification : int {
  kNotifyStop = -1,
  kNotifySpindleStart = 3,
  kNotifySpindleStop = 4,
  kNotifySpindleSpeed = 5,
  kNotifySpindleTuning = 6,
  kNotifyForcedEstop = 7,
  kNotifyZCorrectionOff = 18101,
};

// Menu command ids: the plugin asks for a range of three; the host's own general
// configuration item is taken over.
inline constexpr int kMenuRangeCount = 3;
inline constexpr int kHostGeneralConfigCommand = 27837;

// Stop code the plugin writes when it forces the host into E-stop.
inline constexpr int kStopCodeForced = 8;

// Host input-signal record numbers the plugin refers to by role.
enum HostInput : int {
  kInputProbe = 22,
  kInputIndex = 23,
  kInputLimitOverride = 24,
  kInputEstop = 25,
  kInputThcOn = 26,  // arc OK
  kInputThcUp = 27,
  kInputThcDown = 28,
  kInputTiming = 44,
};

// Host parameter indices (doubles in HostParams).
enum HostParam : int {
  kParamWorkOffsetX = 5221,  // work offsets X..C at 5221..5226
  kParamZCorrectionOffNotice = 1734,
  kParamJogRatePercent = 4000,
};

}  // namespace kelvro
