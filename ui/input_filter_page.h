// The Input filter page: the controller's debounce times by input function (limit, home,
// probe, index, encoders, other), the switch to the per-pin times, and the per-pin list
// (ui/pin_list.h), which shows what the host wired to each pin. The function times go
// through the page's data exchange; the list edits the per-pin settings directly.
#pragma once

#include <functional>
#include <vector>

#include "host/host_blocks.h"
#include "settings/plugin_settings.h"
#include "ui/page_model.h"
#include "ui/pin_list.h"

namespace kelvro {

class InputFilterPage final : public PageModel {
 public:
  // `machine` gives the host's machine block (its input signal and encoder records) when the
  // page opens; it may give null.
  InputFilterPage(PluginSettings& settings, std::function<const HostMachineState*()> machine);

  int template_id() const override;
  std::span<const Binding> bindings() const override { return bindings_; }
  // The load also describes the pins anew from the host's records.
  ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) override;
  // The list draws its rows and edits in place.
  std::unique_ptr<PageView> MakeView(PageViewMaker& maker) override {
    return maker.InputFilter(*this);
  }

  PinList& pins() { return pins_; }

 private:
  std::function<const HostMachineState*()> machine_;
  std::vector<Binding> bindings_;
  PinList pins_;
};

}  // namespace kelvro
