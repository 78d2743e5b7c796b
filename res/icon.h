// Icon 128: the program's 32 x 32 icon as an XPM image.
#pragma once

namespace qx::res {

inline constexpr int IDR_MAINFRAME = 128;
const char* const* MainIconXpm();

}  // namespace qx::res
