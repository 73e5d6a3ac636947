// Lets a window that the user asked for, by starting the program again, come to the front with
// the keyboard focus past the desktop's focus-stealing prevention, with the token the desktop
// gave that start or, without one, the X server's time of the start.
//
//   const ActivationToken token = WithUserTime(ActivationToken::FromEnvironment());   // the start
//   PrepareActivation(window, token);                  // the window asked for, before it shows
//   window.show(); window.raise(); window.activateWindow();
//   ActivateForUser(window, token);                    // once shown
#pragma once

#include "app/application_bus.h"

class QWidget;

// On X11: the token with a startup id carrying the X server's time now, when the desktop gave
// none (a start from a terminal), so that the window it brings up is known to follow the user's
// action. Elsewhere, or with a startup id, the token as it is.
ActivationToken WithUserTime(ActivationToken token);

void PrepareActivation(QWidget& window, const ActivationToken& token);

// On X11, with a time in the startup id: asks the window manager to activate the shown window as
// a direct request of the user made at that time (the way pagers ask). Window managers that
// treat the program's own requests as focus stealing (openbox refuses them for dialogs) grant
// that one, as they would the user's click. Elsewhere Qt's own activation stands.
void ActivateForUser(QWidget& window, const ActivationToken& token);
