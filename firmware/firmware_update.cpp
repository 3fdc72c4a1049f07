#include "firmware/firmware_update.h"

namespace kelvro {

bool FirmwareUpdate::Run() {
  return false;
}

}  // namespace kelvro
