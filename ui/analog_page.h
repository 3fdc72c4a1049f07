// The Analog input & encoder page: a special function for each of the three value sources
// (the analog input and the controller's two encoders), edited one source at a time through a
// working copy, and the mapping of the controller's encoders onto the host's encoders and
// MPGs with their resolution and the host's detent values.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/platform.h"
#include "settings/plugin_settings.h"
#include "ui/page_model.h"

namespace kelvro {

// Items of the special function list, by function value, and the short names of the source
// list's lines.
inline constexpr std::array<const char*, 6> kSpecialFunctionItems{
    "None",         "FRO (0-250%)",      "SRO (0-250%)", "Set User Variable",
    "Set User DRO", "THC Vnom (50-300V)"};
inline constexpr std::array<const char*, 6> kSpecialFunctionShortNames{"none", "FRO", "SRO",
                                                                       "VAR",  "DRO", "THCVn"};
inline constexpr std::array<const char*, 2> kOutputTypeItems{"16bit value (0-65535)",
                                                             "Percentage (0-100)"};
// The host's encoders and MPGs, by MapEnc value.
inline constexpr std::array<const char*, 7> kHostEncoderItems{"ENC#1", "ENC#2", "ENC#3", "ENC#4",
                                                              "MPG#1", "MPG#2", "MPG#3"};
inline constexpr std::array<const char*, 2> kResolutionItems{"x1", "x4"};

inline constexpr char kMessageSameHostEncoder[] = "Cannot map two encoders to same Mach3 encoder!";

class AnalogPage final : public PageModel {
 public:
  AnalogPage(PluginSettings& settings, const Host& host, UserMessages& messages);

  int template_id() const override;
  // The resolutions and the host encoder choices.
  std::span<const Binding> bindings() const override { return bindings_; }
  // Load fills the whole page and makes the first source current; save takes the encoder
  // mapping, refuses two controller encoders on one host encoder, and stores the source
  // being edited.
  ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) override;
  void ApplyEnableRules(DialogControls& controls) override;
  bool OnCommand(DialogControls& controls, int control, DialogRunner& runner) override;

  // The source being edited while the page's window exists.
  int current_source() const { return current_; }

 private:
  void Initialise(DialogControls& controls);
  void LoadEntry(DialogControls& controls, int index);
  // Validates the edits into the working copy and copies it into the current entry.
  ExchangeResult StoreEntry(DialogControls& controls);
  void SwitchEntry(DialogControls& controls);
  void FunctionChosen(DialogControls& controls);
  void ShowLines(DialogControls& controls);
  void ShowDetent(DialogControls& controls, int list, int edit);
  // The host's counts per unit of a host encoder or MPG (a MapEnc value); none for a value
  // the list does not offer.
  std::optional<double> CountsPerUnit(int host_encoder) const;

  PluginSettings& settings_;
  const Host& host_;
  UserMessages& messages_;
  std::vector<Binding> bindings_;

  // Page state while the window exists.
  int current_ = 0;
  InputMapping working_{};
  bool switching_ = false;  // the source list's handler is running
  std::string sixth_item_;  // the THC Vnom item while the list leaves it out
  int function_items_ = 0;  // items the function list shows
  std::array<std::string, 3> lines_;
};

}  // namespace kelvro
