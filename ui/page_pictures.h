// The small pictures the pages show, drawn by the program at the screen's pixel ratio so they
// stay sharp at any scale.
#pragma once

#include <QPixmap>

class CHoverButton;
class CProfileDialogLink;
class QHBoxLayout;
class QWidget;

// The mouse settings page's indicator: a bright pair of chevrons while acceleration is applied,
// a grey pair otherwise.
QPixmap AccelerationPicture(bool applied, qreal pixelRatio);

// The picture button that opens the speed profile dialog (mouse settings and flight pages), with
// its tooltip id and accessible name.
CHoverButton* MakeSpeedProfileButton(CProfileDialogLink& link, QWidget* parent);
// The row that holds that button with "the speed profile dialog" beside it.
QHBoxLayout* SpeedProfileRow(CHoverButton* button);
