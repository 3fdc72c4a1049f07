#include "profile_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kelvro::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
#ifdef _WIN32
  char base[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, base);
  for (unsigned n = GetTickCount() ^ GetCurrentProcessId();; ++n) {
    const std::string candidate = std::string(base) + "kelvro_settings_" + std::to_string(n);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      break;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("no temp dir");
  }
#else
  std::string templ = "/tmp/kelvro_settings_XXXXXX";
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only files would block the removal on Windows.
  for (const auto& entry : fs::recursive_directory_iterator(path_, ec)) {
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
#ifdef _WIN32
  return path_ + "\\" + name;
#else
  return path_ + "/" + name;
#endif
}

std::vector<std::string> TempDir::Entries() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(path_, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<unreadable>";
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

void MakeReadOnly(const std::string& path, bool read_only) {
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(path, write, read_only ? fs::perm_options::remove : fs::perm_options::add);
}

void MakeDirectory(const std::string& path) {
  fs::create_directory(path);
}

bool RecordingDom::Save(const std::string& path) {
  if (saves_) ++*saves_;
  return ForwardingDom::Save(path);
}

XmlNode RecordingDom::DocumentElement() {
  const XmlNode root = ForwardingDom::DocumentElement();
  if (root) roots_.push_back(root.handle);
  return root;
}

bool RecordingDom::IsRoot(XmlNode node) const {
  return std::find(roots_.begin(), roots_.end(), node.handle) != roots_.end();
}

XmlNode RecordingDom::FindChild(XmlNode parent, const std::string& name) {
  const XmlNode found = ForwardingDom::FindChild(parent, name);
  const auto section = sections_.find(parent.handle);
  if (section != sections_.end()) {
    log_->push_back(section->second + "/" + name);
  } else if (found && IsRoot(parent)) {
    sections_[found.handle] = name;
  }
  return found;
}

XmlNode RecordingDom::AppendNewElement(XmlNode parent, const std::string& name) {
  const XmlNode made = ForwardingDom::AppendNewElement(parent, name);
  if (!made || sections_.count(parent.handle) != 0) return made;
  if (IsRoot(parent)) {
    sections_[made.handle] = name;
  } else {
    roots_.push_back(made.handle);  // made below the document itself
  }
  return made;
}

bool FaultyDom::Save(const std::string& path) {
  if (!fail_save) return ForwardingDom::Save(path);
  // Write the document, then cut it in half: what a crash in the middle leaves behind.
  const std::string scratch = path + ".scratch";
  std::string half = "<profile><kelvro_mach_drv><Laser";
  if (ForwardingDom::Save(scratch)) {
    const std::string whole = ReadBytes(scratch);
    half = whole.substr(0, whole.size() / 2);
    std::remove(scratch.c_str());
  }
  WriteBytes(path, half);
  return false;
}

std::string CollapseEmptyElements(const std::string& xml) {
  static const std::regex empty(R"(<([A-Za-z_][-A-Za-z0-9_.:]*)([^<>]*[^/<>])?></\1>)");
  return std::regex_replace(xml, empty, "<$1$2/>");
}

namespace {

// [begin, end) of the content of the first <section> element, or npos.
std::pair<size_t, size_t> SectionContent(const std::string& xml, const std::string& section) {
  size_t at = 0;
  while ((at = xml.find("<" + section, at)) != std::string::npos) {
    const size_t after = at + 1 + section.size();
    if (after < xml.size() && (xml[after] == '>' || xml[after] == ' ' || xml[after] == '/')) {
      const size_t gt = xml.find('>', after);
      if (gt == std::string::npos || xml[gt - 1] == '/') return {gt, gt};
      const size_t end = xml.find("</" + section + ">", gt);
      if (end == std::string::npos) return {std::string::npos, std::string::npos};
      return {gt + 1, end};
    }
    at = after;
  }
  return {std::string::npos, std::string::npos};
}

}  // namespace

std::vector<std::string> KeysInSection(const std::string& xml, const std::string& section) {
  std::vector<std::string> keys;
  const auto [begin, end] = SectionContent(xml, section);
  if (begin == std::string::npos) return keys;
  for (size_t at = xml.find('<', begin); at < end; at = xml.find('<', at + 1)) {
    const char next = xml[at + 1];
    if (next == '/' || next == '!' || next == '?') continue;
    size_t stop = at + 1;
    while (stop < end && xml[stop] != '>' && xml[stop] != '/' && xml[stop] != ' ') ++stop;
    keys.push_back(xml.substr(at + 1, stop - at - 1));
  }
  return keys;
}

std::string KeyText(const std::string& xml, const std::string& section, const std::string& key) {
  const auto [begin, end] = SectionContent(xml, section);
  if (begin == std::string::npos) return "<absent>";
  const std::string content = xml.substr(begin, end - begin);
  const size_t empty = content.find("<" + key + "/>");
  const size_t open = content.find("<" + key + ">");
  if (empty != std::string::npos && (open == std::string::npos || empty < open)) return "";
  if (open == std::string::npos) return "<absent>";
  const size_t from = open + key.size() + 2;
  const size_t close = content.find("</" + key + ">", from);
  if (close == std::string::npos) return "<absent>";
  return content.substr(from, close - from);
}

namespace {

void Key(std::string& x, const std::string& name, const std::string& value) {
  x += "<" + name + ">" + value + "</" + name + ">";
}

}  // namespace

std::string HostShapedProfile(const HostShape& shape) {
  std::string x = shape.bom + shape.declaration + "<profile><Preferences>";
  for (int n = 0; n <= 6; ++n) {
    const std::string m = std::to_string(n);
    Key(x, "Motor" + m + "Active", n < 3 || n == 6 ? "1" : "0");
    for (const char* k : {"StepPin", "StepPort", "StepNeg", "DirPin", "DirPort", "DirNeg"}) {
      Key(x, "Motor" + m + k, std::to_string((n * 7 + std::string(k).size()) % 17));
    }
    Key(x, "Steps" + m, n == 6 ? "1000." : "320.");
    Key(x, "Vel" + m, "16.67");
    Key(x, "Acc" + m, "120.");
    Key(x, "M" + m + "Max", "0");
    Key(x, "M" + m + "Min", n == 2 ? "-160" : "-593");
    Key(x, "M" + m + "SoftRamp", "");
  }
  Key(x, "SoftLimit", "0");
  Key(x, "SafeZStop", "");
  Key(x, "Units", "0");
  Key(x, "SlaveHome", "1");
  for (int n = 1; n <= 25; ++n) Key(x, "SPINRATIO" + std::to_string(n), "1.");
  for (int n = 0; n <= 52; ++n) {
    const std::string i = "Input" + std::to_string(n);
    Key(x, i + "Active", n < 9 ? "1" : "0");
    Key(x, i + "Port", "1");
    Key(x, i + "Pin", std::to_string(n < 9 ? 11 + n / 3 : 0));
    Key(x, i + "Neg", "0");
    Key(x, i + "Emulated", "0");
    Key(x, i + "EmuKey", "");
  }
  for (int n = 0; n <= 30; ++n) {
    const std::string o = "Output" + std::to_string(n);
    Key(x, o + "Active", "0");
    Key(x, o + "Port", "1");
    Key(x, o + "Pin", "0");
    Key(x, o + "Neg", "0");
  }
  for (int n = 0; n <= 7; ++n) {
    const std::string e = "Encoder" + std::to_string(n);
    for (const char* k : {"Active", "APort", "APin", "BPort", "BPin"}) Key(x, e + k, "0");
    Key(x, e + "Cal", "");
  }
  // The rest of the host's preferences: hot keys, macros, screen settings, ...
  for (int n = 0; x.size() < shape.min_bytes * 3 / 4; ++n) {
    const std::string k = "Pref" + std::to_string(n);
    switch (n % 5) {
      case 0:
        Key(x, k, "");
        break;
      case 1:
        Key(x, k, std::to_string(n * 37 % 1000));
        break;
      case 2:
        Key(x, k, std::to_string(n % 97) + ".25");
        break;
      case 3:
        Key(x, k, "C:\\Mach3\\Macros\\M" + std::to_string(n) + ".m1s");
        break;
      default:
        Key(x, k, "Fr" + shape.accent + "se &amp; Drehbank");
        break;
    }
  }
  x += "</Preferences><Mach3Mill>";
  for (int n = 0; n < 300; ++n) Key(x, "Screen" + std::to_string(n), n % 3 ? "1" : "");
  x += "</Mach3Mill>";
  x += shape.plugin_section;
  x += "<Control>";
  for (int n = 0; x.size() < shape.min_bytes * 7 / 8; ++n) {
    Key(x, "Ctrl" + std::to_string(n), n % 4 ? std::to_string(n) : "");
  }
  x += "</Control><VideoPlugIn><Camera></Camera><Device>0</Device></VideoPlugIn><GCodeVar>";
  for (int n = 0; x.size() < shape.min_bytes; ++n) {
    Key(x, "Var" + std::to_string(500 + n), n % 2 ? "0." : "");
  }
  x += "</GCodeVar></profile>\r\n";
  return x;
}

std::vector<std::string> PluginSaveKeys(int curve_points) {
  std::vector<std::string> keys = {
      "LaserSync",     "LaserComp",   "LaserGL",       "PWMFreq",      "IndexCnt",
      "LaserSyncPort", "HomeRetract", "LimitDebounce", "HomeDebounce", "ProbeDebounce",
      "IndexDebounce", "EncDebounce", "OtherDebounce", "DebounceByPin"};
  for (int n = 0; n < 14; ++n) {
    keys.push_back("DebPin" + std::to_string(n) + "_ena");
    keys.push_back("DebPin" + std::to_string(n) + "_time");
  }
  keys.push_back("LCurveCnt");
  for (int n = 0; n < curve_points; ++n) {
    keys.push_back("LCurveX" + std::to_string(n));
    keys.push_back("LCurveY" + std::to_string(n));
  }
  keys.push_back("LMaxFeed");
  for (const char* m : {"Analog", "Encoder1", "Encoder2"}) {
    for (const char* k : {"Fun", "Type", "VarID", "ZThresh"}) keys.push_back(std::string(m) + k);
  }
  for (const char* k :
       {"Enc1Mult",     "Enc2Mult",     "MapEnc1",       "MapEnc2",        "HwMPG",
        "MPGfeedlimit", "THCtype",      "THCnomvoltage", "THChystvoltage", "THCtorchv",
        "THCanalogv",   "THCarcDetect", "THCdetVoltage", "THCdetTime",     "THCDwell",
        "KerfDetect",   "KerfTime",     "KerfVoltage",   "THCLP",          "THCLPFreq",
        "THCLock",      "THCLockMax",   "THCLockMin",    "THCLockCmd",     "ManualTHC",
        "ManualSpeed",  "DerefOnDisc",  "StepFreq",      "ProbeAsLimit"}) {
    keys.push_back(k);
  }
  return keys;
}

}  // namespace kelvro::test
