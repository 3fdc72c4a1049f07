#include "device/commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelvro {
namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes ToBytes(const std::array<uint8_t, N>& a) {
  return Bytes(a.begin(), a.end());
}

// ---- command codes ----

struct CodeCase {
  uint8_t byte;
  const char* name;
};

const CodeCase kCodeCases[] = {
    {0x02, "JogStart"},         {0x03, "JogStop"},      {0x04, "ProbeStart"},
    {0x05, "HomeAxis"},         {0x06, "SetOutputs"},   {0x07, "Spindle"},
    {0x09, "LoadMotionConfig"}, {0x0B, "LoadIoConfig"}, {0x0C, "ReleaseHold"},
    {0x0D, "EndProbe"},         {0x0E, "Stop"},         {0x0F, "SetForcedInputs"},
    {0x10, "ThreadStart"},      {0x11, "MpgConfig"},    {0x12, "HomeVerifyAxis"},
    {0x13, "ThcConfig"},        {0x14, "LatchZ"},       {0xF1, "FlashErase"},
    {0xF2, "FlashWrite"},
};

TEST(CommandCodes, EveryCodeHasItsName) {
  for (const CodeCase& c : kCodeCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CommandName(static_cast<CommandCode>(c.byte)), c.name);
    EXPECT_TRUE(IsCommandCode(c.byte));
  }
}

TEST(CommandCodes, NamedEnumeratorsCarryTheirCodes) {
  EXPECT_EQ(static_cast<uint8_t>(CommandCode::JogStart), 0x02);
  EXPECT_EQ(static_cast<uint8_t>(CommandCode::LoadIoConfig), 0x0B);
  EXPECT_EQ(static_cast<uint8_t>(CommandCode::HomeVerifyAxis), 0x12);
  EXPECT_EQ(static_cast<uint8_t>(CommandCode::LatchZ), 0x14);
  EXPECT_EQ(static_cast<uint8_t>(CommandCode::FlashErase), 0xF1);
  EXPECT_EQ(static_cast<uint8_t>(CommandCode::FlashWrite), 0xF2);
}

TEST(CommandCodes, OtherBytesAreNotCommands) {
  // Count: exactly the 19 codes of the table are commands.
  int known = 0;
  for (int b = 0; b < 256; ++b) {
    if (IsCommandCode(static_cast<uint8_t>(b))) ++known;
  }
  EXPECT_EQ(known, 19);
  for (uint8_t b : {0x00, 0x01, 0x08, 0x0A, 0x15, 0xE0, 0xE2, 0xF0, 0xF3, 0xFF}) {
    EXPECT_FALSE(IsCommandCode(b)) << int(b);
    EXPECT_EQ(CommandName(static_cast<CommandCode>(b)), "?") << int(b);
  }
}

TEST(CommandHeader, CodeInvertedCodeAndLittleEndianLength) {
  struct Case {
    CommandCode code;
    uint16_t length;
    Bytes expected;
  };
  const Case cases[] = {
      {CommandCode::JogStart, 6, {0x02, 0xFD, 0x06, 0x00}},
      {CommandCode::EndProbe, 0, {0x0D, 0xF2, 0x00, 0x00}},
      {CommandCode::LoadMotionConfig, 262, {0x09, 0xF6, 0x06, 0x01}},
      {CommandCode::FlashWrite, 264, {0xF2, 0x0D, 0x08, 0x01}},
  };
  for (const Case& c : cases) {
    Bytes out(4, 0xAA);
    PutCommandHeader(out.data(), c.code, c.length);
    EXPECT_EQ(out, c.expected) << CommandName(c.code);
  }
}

// ---- payload builders, against vectors worked out from the payload tables ----

struct PayloadCase {
  std::string name;
  Bytes actual;
  Bytes expected;
};

std::vector<PayloadCase> PayloadCases() {
  ThcConfigFields thc;
  thc.correction_speed = 0x01020304;
  thc.z_limit1 = -100;
  thc.z_limit2 = 2000;
  thc.dro177_x1000 = 1500;
  thc.thc_type = 2;
  thc.target = 120;
  thc.hysteresis = 3;
  thc.torch_scale = 0xABCD;
  thc.detect_voltage = 0x0102;
  thc.detect_time = 500;
  thc.flags = kThcFlagKerfDetect | kThcFlagLowPass | kThcFlagLockCmd;
  thc.kerf_voltage = 0x1234;
  thc.kerf_time = 0xFFFE;
  thc.b0 = 0x00C0FFEE;
  thc.b1 = 0x00C0FFEF;
  thc.a1 = -65536;
  thc.lock_max = 0x5566;
  thc.lock_min = 0x7788;

  return {
      {"JogStart axis 2, minus, 0x12345678",
       ToBytes(payload::JogStart(2, -1, 0x12345678)),
       {0x02, 0xFF, 0x78, 0x56, 0x34, 0x12}},
      {"JogStart axis 5, plus, -2",
       ToBytes(payload::JogStart(5, 1, -2)),
       {0x05, 0x01, 0xFE, 0xFF, 0xFF, 0xFF}},
      {"JogStop 4", ToBytes(payload::JogStop(4)), {0x04}},
      {"ProbeStart",
       ToBytes(payload::ProbeStart({1, 2, 0x7FFFFFFF, -1, 256, 0x01020304},
                                   {-2, 65536, 0, 0x11223344, -256, 7})),
       {0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x7F,
        0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01,
        0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x44, 0x33, 0x22, 0x11, 0x00, 0xFF, 0xFF, 0xFF, 0x07, 0x00, 0x00, 0x00}},
      {"HomeAxis 3", ToBytes(payload::HomeAxis(3)), {0x03, 0x00}},
      {"HomeAxis -1", ToBytes(payload::HomeAxis(-1)), {0xFF, 0xFF}},
      {"HomeVerifyAxis 258", ToBytes(payload::HomeVerifyAxis(258)), {0x02, 0x01}},
      {"SetOutputs",
       ToBytes(payload::SetOutputs(0x80000002, 0x0025, 0x0049)),
       {0x02, 0x00, 0x00, 0x80, 0x25, 0x00, 0x49, 0x00}},
      {"Spindle on",
       ToBytes(payload::Spindle(true, 0x8000, 0x01020304, -1)),
       {0x01, 0x00, 0x80, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01, 0xFF}},
      {"Spindle off",
       ToBytes(payload::Spindle(false, 65536, -4096, 1)),
       {0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0xF0, 0xFF, 0xFF, 0x01}},
      {"ReleaseHold", ToBytes(payload::ReleaseHold()), {0x00, 0x00, 0x00, 0x00}},
      {"Stop", ToBytes(payload::Stop()), {}},
      {"Stop to ESTOP", ToBytes(payload::Stop(StopTarget::kEstop)), {0x01}},
      {"Stop to SAFE", ToBytes(payload::Stop(StopTarget::kSafe)), {0x03}},
      {"SetForcedInputs", ToBytes(payload::SetForcedInputs(0x81800001)), {0x01, 0x00, 0x80, 0x81}},
      {"ThreadStart -245760",
       ToBytes(payload::ThreadStart(-245760)),
       {0x00, 0x40, 0xFC, 0xFF, 0x03}},
      {"MpgConfig",
       ToBytes(payload::MpgConfig(2, 1234, 0x00ABCDEF, 1)),
       {0x02, 0xD2, 0x04, 0x00, 0x00, 0xEF, 0xCD, 0xAB, 0x00, 0x01, 0x00}},
      {"MpgConfig axis 6 kept",
       ToBytes(payload::MpgConfig(6, -5, -1, 0x0102)),
       {0x06, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x01}},
      {"MpgConfig axis above 6, step 0",
       ToBytes(payload::MpgConfig(9, 0, 100, 0)),
       {0x06, 0x01, 0x00, 0x00, 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"MpgConfig negative axis",
       ToBytes(payload::MpgConfig(-1, 7, 0, 0)),
       {0x06, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {"ThcConfig",
       ToBytes(payload::ThcConfig(thc)),
       {0x04, 0x03, 0x02, 0x01,  // 0 correction speed
        0x9C, 0xFF, 0xFF, 0xFF,  // 4 Z limit 1
        0xD0, 0x07, 0x00, 0x00,  // 8 Z limit 2
        0xDC, 0x05,              // 12 DRO 177 x 1000
        0x02,                    // 14 type
        0x78, 0x00,              // 15 target
        0x03, 0x00,              // 17 hysteresis
        0xCD, 0xAB,              // 19 torch scale
        0x02, 0x01,              // 21 detect voltage
        0xF4, 0x01,              // 23 detect time
        0x0B, 0x00,              // 25 flags
        0x34, 0x12,              // 27 kerf voltage
        0xFE, 0xFF,              // 29 kerf time
        0xEE, 0xFF, 0xC0, 0x00,  // 31 b0
        0xEF, 0xFF, 0xC0, 0x00,  // 35 b1
        0x00, 0x00, 0xFF, 0xFF,  // 39 a1
        0x66, 0x55,              // 43 lock max
        0x88, 0x77}},            // 45 lock min
      {"FlashWrite final length word",
       payload::FlashWrite(4, 0, Bytes{0xFA, 0x6C, 0x01, 0x00}),
       {0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFA, 0x6C, 0x01, 0x00}},
  };
}

TEST(Payloads, BytesMatchTheTables) {
  for (const PayloadCase& c : PayloadCases()) {
    EXPECT_EQ(c.actual, c.expected) << c.name;
  }
}

TEST(Payloads, SizesMatchTheCommandTable) {
  EXPECT_EQ(payload::JogStart(0, 1, 0).size(), 6u);
  EXPECT_EQ(payload::ProbeStart({}, {}).size(), 48u);
  EXPECT_EQ(payload::Spindle(false, 0, 0, 1).size(), 10u);
  EXPECT_EQ(payload::MpgConfig(0, 1, 0, 0).size(), 11u);
  EXPECT_EQ(payload::ThcConfig({}).size(), 47u);
  EXPECT_EQ(payload::ThreadStart(0).size(), 5u);
}

TEST(Payloads, FlashWriteFullChunk) {
  Bytes data(256);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(255 - i);
  const Bytes out = payload::FlashWrite(256, 516, data);
  ASSERT_EQ(out.size(), 264u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8),
            (Bytes{0x00, 0x01, 0x00, 0x00, 0x04, 0x02, 0x00, 0x00}));
  EXPECT_EQ(Bytes(out.begin() + 8, out.end()), data);
}

// ---- status report ----

// One report with a distinct value in every field, written out byte by byte.
const Bytes kReport = {
    0x3C,                    // 0 marker
    0x04,                    // 1 mode ESTOP
    0x05,                    // 2 sequence HOME4
    0x5B,                    // 3 flags
    0x5A, 0xA5,              // 4 inputs 0xA55A
    0x34, 0x12,              // 6 line word 0x1234
    0xE8, 0x03, 0x00, 0x00,  // 8 X = 1000
    0xFF, 0xFF, 0xFF, 0xFF,  // 12 Y = -1
    0xC0, 0x1D, 0xFE, 0xFF,  // 16 Z = -123456
    0xFF, 0xFF, 0xFF, 0x7F,  // 20 A = INT32_MAX
    0x00, 0x00, 0x00, 0x80,  // 24 B = INT32_MIN
    0x04, 0x03, 0x02, 0x01,  // 28 C = 0x01020304
    0x06, 0xFF, 0xFF, 0xFF,  // 32 THC Z offset = -250
    0xEF, 0xCD, 0xAB, 0x89,  // 36 index period 0x89ABCDEF
    0xE8, 0x03,              // 40 buffer fill 1000
    0xEF, 0xBE, 0xAD, 0xDE,  // 42 time stamp 0xDEADBEEF
    0xFE, 0xFF, 0xFF, 0xFF,  // 46 encoder 1 = -2
    0x70, 0x11, 0x01, 0x00,  // 50 encoder 2 = 70000
    0x03,                    // 54 stop reason
    0x02,                    // 55 homed axis Z
    0xFF, 0xFF,              // 56 ring index none
    0x01, 0x80,              // 58 analog 0x8001
};

TEST(StatusPacketDecode, EveryFieldFromItsOffset) {
  ASSERT_EQ(kReport.size(), 60u);
  StatusPacket p;
  ASSERT_TRUE(DecodeStatusPacket(kReport.data(), kReport.size(), &p));
  EXPECT_EQ(p.marker, 0x3C);
  EXPECT_EQ(p.mode, 4);
  EXPECT_EQ(p.sequence, 5);
  EXPECT_EQ(p.flags, 0x5B);
  EXPECT_EQ(p.inputs, 0xA55A);
  EXPECT_EQ(p.line_word, 0x1234);
  EXPECT_EQ(p.positions[0], 1000);
  EXPECT_EQ(p.positions[1], -1);
  EXPECT_EQ(p.positions[2], -123456);
  EXPECT_EQ(p.positions[3], 2147483647);
  EXPECT_EQ(p.positions[4], -2147483647 - 1);
  EXPECT_EQ(p.positions[5], 0x01020304);
  EXPECT_EQ(p.thc_z_offset, -250);
  EXPECT_EQ(p.index_period, 0x89ABCDEFu);
  EXPECT_EQ(p.buffer_fill, 1000);
  EXPECT_EQ(p.timestamp, 0xDEADBEEFu);
  EXPECT_EQ(p.enc1, -2);
  EXPECT_EQ(p.enc2, 70000);
  EXPECT_EQ(p.stop_reason, 3);
  EXPECT_EQ(p.homed_axis, 2);
  EXPECT_EQ(p.ring_index, 0xFFFF);
  EXPECT_EQ(p.ring_index, kRingIndexNone);
  EXPECT_EQ(p.analog_raw, 0x8001);
}

TEST(StatusPacketDecode, FlagBitsSitWhereTheReportPutsThem) {
  // 0x5B = bits 0, 1, 3, 4, 6: resync, THC active, arc OK, torch up, LED 1500; not down.
  StatusPacket p;
  ASSERT_TRUE(DecodeStatusPacket(kReport.data(), kReport.size(), &p));
  EXPECT_TRUE(p.flags & kStatusFlagResync);
  EXPECT_TRUE(p.flags & kStatusFlagThcActive);
  EXPECT_TRUE(p.flags & kStatusFlagArcOk);
  EXPECT_TRUE(p.flags & kStatusFlagTorchUp);
  EXPECT_FALSE(p.flags & kStatusFlagTorchDown);
  EXPECT_TRUE(p.flags & kStatusFlagLed1500);
}

TEST(StatusPacketDecode, LongerReadUsesTheFirstSixtyBytes) {
  Bytes longer = kReport;
  longer.push_back(0x99);
  StatusPacket p;
  ASSERT_TRUE(DecodeStatusPacket(longer.data(), longer.size(), &p));
  EXPECT_EQ(p.analog_raw, 0x8001);
}

TEST(StatusPacketDecode, RejectsWrongMarkerShortBufferAndNull) {
  StatusPacket untouched;
  untouched.mode = 77;
  untouched.positions[2] = 4242;

  struct Case {
    const char* name;
    Bytes bytes;
  };
  Bytes wrong_marker = kReport;
  wrong_marker[0] = 0x3E;
  Bytes zero_marker = kReport;
  zero_marker[0] = 0x00;
  const Case cases[] = {
      {"marker 0x3E", wrong_marker},
      {"marker 0x00", zero_marker},
      {"59 bytes", Bytes(kReport.begin(), kReport.end() - 1)},
      {"1 byte", Bytes{0x3C}},
      {"empty", Bytes{}},
  };
  for (const Case& c : cases) {
    StatusPacket p = untouched;
    EXPECT_FALSE(DecodeStatusPacket(c.bytes.data(), c.bytes.size(), &p)) << c.name;
    EXPECT_EQ(p, untouched) << c.name;
  }
  StatusPacket p;
  EXPECT_FALSE(DecodeStatusPacket(nullptr, 60, &p));
  EXPECT_FALSE(DecodeStatusPacket(kReport.data(), kReport.size(), nullptr));
}

TEST(StatusPacketEncode, ReproducesTheWireBytes) {
  StatusPacket p;
  ASSERT_TRUE(DecodeStatusPacket(kReport.data(), kReport.size(), &p));
  EXPECT_EQ(ToBytes(EncodeStatusPacket(p)), kReport);
}

// ---- mode and sequence names ----

TEST(StatusNames, ModesAndSequences) {
  const std::pair<uint8_t, const char*> modes[] = {{0, "IDLE"},  {1, "JOG"},   {2, "SEGM"},
                                                   {3, "HOLD"},  {4, "ESTOP"}, {5, "SAFE"},
                                                   {6, "RDOWN"}, {7, "?"},     {255, "?"}};
  for (const auto& [code, name] : modes) EXPECT_EQ(ModeName(code), name) << int(code);
  EXPECT_EQ(ModeName(Mode::HOLD), "HOLD");
  EXPECT_EQ(static_cast<uint8_t>(Mode::RDOWN), 6);

  const std::pair<uint8_t, const char*> sequences[] = {
      {0, "NONE"},   {1, "HOME0"},  {2, "HOME1"}, {3, "HOME2"}, {4, "HOME3"}, {5, "HOME4"},
      {6, "PROBE1"}, {7, "PROBE2"}, {8, "MPG"},   {9, "?"},     {200, "?"}};
  for (const auto& [code, name] : sequences) {
    EXPECT_EQ(SequenceName(code), name) << int(code);
  }
  EXPECT_EQ(SequenceName(Sequence::PROBE2), "PROBE2");
  EXPECT_EQ(static_cast<uint8_t>(Sequence::MPG), 8);
}

}  // namespace
}  // namespace kelvro
