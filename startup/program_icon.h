#pragma once

namespace capmeter {

// Gives every window of the program the meter's icon: the desktop theme's
// when the icon is installed there, otherwise the copies built into the
// program. Call once the application object exists.
void SetProgramIcon();

}  // namespace capmeter
