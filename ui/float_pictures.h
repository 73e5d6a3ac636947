// The pictures of the floating window's buttons, drawn by the program at the screen's pixel
// density so that they stay sharp at any scale.
//
//   QPixmap picture = FloatPicture(FloatGlyph::Left, FloatLook::Active, devicePixelRatioF());
#pragma once

#include <QPixmap>
#include <QSize>

enum class FloatGlyph { Left, Middle, Right, Pause, Single, Double, Drag, Wheel };

// Normal: at rest; Hover: the pointer is over it; Active: selected; Alternative: a drag is held,
// or scrolling goes on.
enum class FloatLook { Normal, Hover, Active, Alternative };

// Every picture's size in device-independent pixels: a button of 23 x 18 dialog units.
inline constexpr QSize kFloatPictureSize(35, 29);

QPixmap FloatPicture(FloatGlyph glyph, FloatLook look, qreal devicePixelRatio);
