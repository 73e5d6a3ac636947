// The program's icon for the tray and the windows: a head with a pointer arrow beside it, on a
// blue badge that stands out on light and dark panels alike.
#pragma once

#include <QIcon>
#include <QImage>

// Drawn at every size that trays and window managers ask for, so none of them is scaled.
QIcon MivexIcon();

// One size of it, drawn without a display (the build writes the installed icon files with it).
QImage DrawMivexIcon(int size);
