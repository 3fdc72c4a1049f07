#include "ui/about_page.h"

#include "resources/resource_ids.h"
#include "ui/maker_links.h"

namespace kelvro {

int AboutPage::template_id() const {
  return IDD_PAGE_ABOUT;
}

std::string AboutPage::PluginLine() const {
  return "KELVRO Mach3 plugin: v" + (sources_.plugin_version ? sources_.plugin_version() : "");
}

std::string AboutPage::FirmwareLine() const {
  const bool connected = sources_.controller_connected && sources_.controller_connected();
  if (!connected) return "Firmware: unknown (controller is offline)";
  return "Firmware: v" + (sources_.firmware_version ? sources_.firmware_version() : "");
}

std::string AboutPage::ImageLine() const {
  return sources_.carried_image ? sources_.carried_image() : std::string();
}

std::string AboutPage::LinkTarget(int control) {
  if (control == IDC_ABOUT_MAIL) return std::string("mailto:") + kMakerMail;
  if (control == IDC_ABOUT_WEB) return kMakerWeb;
  return {};
}

ExchangeResult AboutPage::Exchange(DialogControls& controls, ExchangeDirection direction) {
  // The page edits nothing; opening it fills its texts.
  if (direction == ExchangeDirection::kSave) return {};
  controls.SetText(IDC_ABOUT_MAIL, kMakerMail);
  controls.SetText(IDC_ABOUT_WEB, kMakerWeb);
  controls.Show(IDC_ABOUT_SPARE_LINK, false);
  controls.SetText(IDC_ABOUT_PLUGIN, PluginLine());
  controls.SetText(IDC_ABOUT_FIRMWARE, FirmwareLine());
  controls.SetText(IDC_ABOUT_IMAGE, ImageLine());
  return {};
}

}  // namespace kelvro
