#pragma once

namespace bv::app {

// Shown after the program's name on the splash and compared by the update
// check.
inline constexpr const char* kVersionText = "1 Beta";

} // namespace bv::app
