// The probe log options dialog: whether the probe log is written, the probe-tip
// compensation and its constants, machine coordinates, and the column separator. Its OK
// writes straight into the options the probing reads, so they apply to the next hit.
#pragma once

#include <array>
#include <vector>

#include "motion/probing.h"
#include "ui/page_model.h"

namespace kelvro {

// The separators the dialog offers, by item index.
inline constexpr std::array<const char*, 4> kProbeLogSeparatorItems{"comma", "space", "semicolon",
                                                                    "TAB "};
inline constexpr std::array<const char*, 4> kProbeLogSeparators{",", " ", ";", "\t"};

class ProbeLogDialog final : public PageModel {
 public:
  explicit ProbeLogDialog(ProbeLogOptions& options);

  int template_id() const override;
  std::span<const Binding> bindings() const override { return bindings_; }
  // Load shows the options; save checks every field and only when all pass writes them into
  // the options (a failed or cancelled dialog stores nothing).
  ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) override;

 private:
  ProbeLogOptions& options_;
  // The fields as the dialog edits them.
  int enabled_ = 0;
  int compensation_ = 0;
  double d_ = 0.0;
  double c1_ = 0.0;
  double c2_ = 0.0;
  int machine_ = 0;
  int separator_ = 0;
  std::vector<Binding> bindings_;
};

}  // namespace kelvro
