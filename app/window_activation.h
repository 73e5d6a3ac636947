// Lets a window that another start of the program asked for come to the front past the desktop's
// focus-stealing prevention, with the token the desktop gave that start.
//
//   PrepareActivation(window, token);
//   window.show(); window.raise(); window.activateWindow();
#pragma once

#include "app/application_bus.h"

class QWidget;

void PrepareActivation(QWidget& window, const ActivationToken& token);
