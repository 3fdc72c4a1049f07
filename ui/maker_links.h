// The maker's addresses the About page links to. Placeholders of this project: the reserved
// ".example" domain cannot reach anyone else.
#pragma once

namespace kelvro {

inline constexpr char kMakerMail[] = "support@kelvro-plugin.example";
inline constexpr char kMakerWeb[] = "https://www.kelvro-plugin.example/";

}  // namespace kelvro
