// The maker's addresses the About page links to (kept with the resource ids, which the
// resource script shares).
#pragma once

#include "resources/resource_ids.h"

namespace kelvro {

inline constexpr char kMakerMail[] = KELVRO_MAKER_MAIL;
inline constexpr char kMakerWeb[] = KELVRO_MAKER_WEB;

}  // namespace kelvro
