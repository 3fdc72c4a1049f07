// The About page: the plugin's picture, the plugin and controller firmware versions, which
// firmware image the plugin carries, and the maker's mail and web links.
#pragma once

#include <functional>
#include <string>

#include "ui/page_model.h"

namespace kelvro {

class AboutPage final : public PageModel {
 public:
  // What the page shows, read when it opens.
  struct Sources {
    std::function<std::string()> plugin_version;    // "01.18"
    std::function<std::string()> firmware_version;  // the controller's version text
    std::function<bool()> controller_connected;
    std::function<std::string()> carried_image;  // one short line on the update image
  };

  explicit AboutPage(Sources sources) : sources_(std::move(sources)) {}

  int template_id() const override;
  ExchangeResult Exchange(DialogControls& controls, ExchangeDirection direction) override;
  // The page draws its picture and makes its mail and web texts links.
  std::unique_ptr<PageView> MakeView(PageViewMaker& maker) override { return maker.About(*this); }

  // The texts of the two version lines as the page computes them when it opens.
  std::string PluginLine() const;
  std::string FirmwareLine() const;
  std::string ImageLine() const;
  // The shell target of a link control (empty for other controls).
  static std::string LinkTarget(int control);

 private:
  Sources sources_;
};

}  // namespace kelvro
