// What the tray tests' main set up: a private X display with a system tray on it, or why
// there is none.
#pragma once

#include <string>

namespace test {

// Empty when the display, the tray and the application are ready.
const std::string& TrayDesktopError();

}  // namespace test
