#include "ui/analog_page.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <optional>

#include "device/wire.h"
#include "resources/resource_ids.h"
#include "settings/settings_table.h"

namespace kelvro {
namespace {

constexpr int kSourceCount = static_cast<int>(kInputMappingNames.size());
constexpr int kAnalogSource = 0;
constexpr int kFunctionNone = 0;
constexpr int kFunctionUserVariable = 3;
constexpr int kFunctionUserDro = 4;
constexpr int kFunctionThcTarget = 5;

template <typename... Args>
std::string Format(const char* format, Args... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, args...);
  text.resize(static_cast<size_t>(length));
  return text;
}

// The range the settings table gives a mapping key of `source` ("VarID", "ZThresh").
SettingRange RangeOf(int source, const char* suffix) {
  const SettingDetail* detail =
      FindSetting(std::string(kInputMappingNames[static_cast<size_t>(source)]) + suffix);
  return detail && detail->range ? *detail->range : SettingRange{};
}

// Reads an edit into `field`; outside `range` the result names the edit and the page's own
// message for it.
ExchangeResult ReadChecked(DialogControls& controls, int edit, SettingRange range, int& field) {
  field = ReadSigned(controls.Text(edit));
  if (field >= range.min && field <= range.max) return {};
  return ExchangeResult::Failure(edit,
                                 Format("Please enter positive integer less or equal to %lld!",
                                        static_cast<long long>(range.max)));
}

std::string Line(int source, int function) {
  const bool known =
      function >= 0 && function < static_cast<int>(kSpecialFunctionShortNames.size());
  return Format("%s (%s)", kInputMappingNames[static_cast<size_t>(source)],
                kSpecialFunctionShortNames[known ? static_cast<size_t>(function) : 0]);
}

// A list's choice, or `field` when it shows none (a value the list does not offer).
int Chosen(DialogControls& controls, int list, int field) {
  const int selection = controls.Selection(list);
  return selection >= 0 ? selection : field;
}

}  // namespace

AnalogPage::AnalogPage(PluginSettings& settings, const Host& host, UserMessages& messages)
    : settings_(settings), host_(host), messages_(messages) {
  PluginSettings& s = settings;
  bindings_ = {
      Binding::Choice(IDC_ANALOG_RESOLUTION1, s, "Enc1Mult", kResolutionItems),
      Binding::Choice(IDC_ANALOG_RESOLUTION2, s, "Enc2Mult", kResolutionItems),
      Binding::Choice(IDC_ANALOG_HOST_ENCODER1, s, "MapEnc1", kHostEncoderItems),
      Binding::Choice(IDC_ANALOG_HOST_ENCODER2, s, "MapEnc2", kHostEncoderItems),
  };
}

int AnalogPage::template_id() const {
  return IDD_PAGE_ANALOG;
}

ExchangeResult AnalogPage::Exchange(DialogControls& controls, ExchangeDirection direction) {
  if (direction == ExchangeDirection::kLoad) {
    kelvro::Exchange(bindings_, controls, direction);
    Initialise(controls);
    return {};
  }
  ExchangeResult result = ExchangeControls(bindings_, controls, direction,
                                           {IDC_ANALOG_RESOLUTION1, IDC_ANALOG_RESOLUTION2});
  if (!result.ok) return result;
  // Checked before either choice is taken, so that a refused pair never reaches the
  // settings (a Cancel after the refusal keeps the mapping the tick works with).
  if (Chosen(controls, IDC_ANALOG_HOST_ENCODER1, settings_.map_enc1) ==
      Chosen(controls, IDC_ANALOG_HOST_ENCODER2, settings_.map_enc2)) {
    return ExchangeResult::Failure(IDC_ANALOG_HOST_ENCODER1, kMessageSameHostEncoder);
  }
  result = ExchangeControls(bindings_, controls, direction,
                            {IDC_ANALOG_HOST_ENCODER1, IDC_ANALOG_HOST_ENCODER2});
  if (!result.ok) return result;
  return StoreEntry(controls);
}

void AnalogPage::Initialise(DialogControls& controls) {
  current_ = 0;
  switching_ = false;
  sixth_item_.clear();
  controls.SetItems(IDC_ANALOG_FUNCTION, kSpecialFunctionItems);
  function_items_ = static_cast<int>(kSpecialFunctionItems.size());
  controls.SetItems(IDC_ANALOG_OUTPUT_TYPE, kOutputTypeItems);
  for (int k = 0; k < kSourceCount; ++k) {
    lines_[static_cast<size_t>(k)] = Line(k, settings_.mappings[static_cast<size_t>(k)].fun);
  }
  ShowLines(controls);
  LoadEntry(controls, current_);
  // The host's detent values as they are, with their fraction.
  const int choices[2] = {settings_.map_enc1, settings_.map_enc2};
  const int edits[2] = {IDC_ANALOG_DETENT1, IDC_ANALOG_DETENT2};
  for (int e = 0; e < 2; ++e) {
    const std::optional<double> counts = CountsPerUnit(choices[e]);
    controls.SetText(edits[e], counts ? Format("%f", *counts) : std::string());
  }
}

void AnalogPage::LoadEntry(DialogControls& controls, int index) {
  working_ = settings_.mappings[static_cast<size_t>(index)];
  controls.SetText(IDC_ANALOG_VAR_ID, std::to_string(working_.var_id));
  controls.SetText(IDC_ANALOG_ZERO_THRESHOLD, std::to_string(working_.z_thresh));
  // The THC target voltage is offered for the encoders only: the analog input's list leaves
  // out its item, remembered for the encoders' lists.
  if (sixth_item_.empty()) sixth_item_ = kSpecialFunctionItems[kFunctionThcTarget];
  const int wanted = index == kAnalogSource ? kFunctionThcTarget : kFunctionThcTarget + 1;
  if (function_items_ != wanted) {
    std::vector<const char*> items(kSpecialFunctionItems.begin(),
                                   kSpecialFunctionItems.begin() + kFunctionThcTarget);
    if (wanted > kFunctionThcTarget) items.push_back(sixth_item_.c_str());
    controls.SetItems(IDC_ANALOG_FUNCTION, items);
    function_items_ = wanted;
  }
  controls.SetSelection(IDC_ANALOG_FUNCTION, working_.fun);
  controls.SetSelection(IDC_ANALOG_OUTPUT_TYPE, working_.type);
}

ExchangeResult AnalogPage::StoreEntry(DialogControls& controls) {
  // Both edits are checked whether or not they are enabled.
  ExchangeResult result =
      ReadChecked(controls, IDC_ANALOG_VAR_ID, RangeOf(current_, "VarID"), working_.var_id);
  if (!result.ok) return result;
  result = ReadChecked(controls, IDC_ANALOG_ZERO_THRESHOLD, RangeOf(current_, "ZThresh"),
                       working_.z_thresh);
  if (!result.ok) return result;
  working_.fun = Chosen(controls, IDC_ANALOG_FUNCTION, working_.fun);
  working_.type = Chosen(controls, IDC_ANALOG_OUTPUT_TYPE, working_.type);
  settings_.mappings[static_cast<size_t>(current_)] = working_;
  return {};
}

void AnalogPage::SwitchEntry(DialogControls& controls) {
  // The message box of a refused store runs a message loop in which the list can change
  // again; that change is not handled twice.
  if (switching_) return;
  switching_ = true;
  const ExchangeResult stored = StoreEntry(controls);
  if (stored.ok) {
    const int next = controls.Selection(IDC_ANALOG_SOURCES);
    current_ = next >= 0 && next < kSourceCount ? next : 0;
    LoadEntry(controls, current_);
  } else {
    messages_.MessageBox(stored.message, MessageBoxKind::kOk);
    controls.Focus(stored.failed_control);
    controls.SetSelection(IDC_ANALOG_SOURCES, current_);
  }
  switching_ = false;
}

void AnalogPage::FunctionChosen(DialogControls& controls) {
  working_.fun = Chosen(controls, IDC_ANALOG_FUNCTION, working_.fun);
  lines_[static_cast<size_t>(current_)] = Line(current_, working_.fun);
  ShowLines(controls);
}

void AnalogPage::ShowLines(DialogControls& controls) {
  std::array<const char*, 3> items{};
  for (size_t k = 0; k < items.size(); ++k) items[k] = lines_[k].c_str();
  controls.SetItems(IDC_ANALOG_SOURCES, items);
  controls.SetSelection(IDC_ANALOG_SOURCES, current_);
}

void AnalogPage::ShowDetent(DialogControls& controls, int list, int edit) {
  const int choice = controls.Selection(list);
  if (choice < 0) return;
  // A changed choice shows the whole counts only.
  if (const std::optional<double> counts = CountsPerUnit(choice)) {
    controls.SetText(edit, std::to_string(TruncToInt32(*counts)));
  }
}

std::optional<double> AnalogPage::CountsPerUnit(int host_encoder) const {
  if (!host_.planner || host_encoder < 0 || host_encoder >= kHostEncoderCount) return {};
  return host_.planner->encoder_counts_per_unit[host_encoder];
}

void AnalogPage::ApplyEnableRules(DialogControls& controls) {
  const bool user_target =
      working_.fun == kFunctionUserVariable || working_.fun == kFunctionUserDro;
  controls.Enable(IDC_ANALOG_VAR_ID, user_target);
  controls.Enable(IDC_ANALOG_OUTPUT_TYPE, user_target);
  controls.Enable(IDC_ANALOG_ZERO_THRESHOLD,
                  working_.fun != kFunctionNone && current_ == kAnalogSource);
}

bool AnalogPage::OnCommand(DialogControls& controls, int control, DialogRunner& /*runner*/) {
  switch (control) {
    case IDC_ANALOG_SOURCES:
      SwitchEntry(controls);
      return true;
    case IDC_ANALOG_FUNCTION:
      FunctionChosen(controls);
      return true;
    case IDC_ANALOG_HOST_ENCODER1:
      ShowDetent(controls, IDC_ANALOG_HOST_ENCODER1, IDC_ANALOG_DETENT1);
      return true;
    case IDC_ANALOG_HOST_ENCODER2:
      ShowDetent(controls, IDC_ANALOG_HOST_ENCODER2, IDC_ANALOG_DETENT2);
      return true;
    default:
      return false;
  }
}

}  // namespace kelvro
