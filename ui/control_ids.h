// The ids of the pages' controls: the pages give them to their controls with SetControlId, and
// the tooltip table is keyed by them.
#pragma once

namespace ControlIds {

inline constexpr int kSetDefault = 4;  // every "Set Default" button

// Camera page, and the hidden live video dialog's picture.
inline constexpr int kShowHeadDetect = 1001;
inline constexpr int kCameraSetup = 1036;
inline constexpr int kSetCamera = 1039;
inline constexpr int kCameraInformation = 1043;
inline constexpr int kFpsWanted = 1056;
inline constexpr int kFpsCamera = 1060;
inline constexpr int kResolutionList = 1083;
inline constexpr int kLivePicture = 1085;
inline constexpr int kCameraList = 1087;
inline constexpr int kCameraView = 1089;

// System page.
inline constexpr int kMouseAtStart = 1002;
inline constexpr int kStartAtLogin = 1014;
inline constexpr int kShakeToggle = 2050;  // head control switched by a head shake

// Auto click page.
inline constexpr int kDwellSeconds = 1004;
inline constexpr int kAutoClickEnable = 1203;
inline constexpr int kScrollSpeed = 2010;  // the speed of scrolling by head

// Mouse settings page.
inline constexpr int kDirectionLeftRight = 1005;
inline constexpr int kSliderLrMouse = 1006;
inline constexpr int kSliderUdMouse = 1007;
inline constexpr int kSliderSmoothMouse = 1008;
inline constexpr int kSliderAccWindowMouse = 1009;
inline constexpr int kSliderAccMouse = 1010;
inline constexpr int kAccelerationEnable = 1011;

// Hotkey page.
inline constexpr int kHotkeyActivate = 1015;
inline constexpr int kHotkeyLeft = 1016;
inline constexpr int kHotkeyMiddle = 1017;
inline constexpr int kHotkeyRight = 1018;
inline constexpr int kHotkeyDouble = 1019;
inline constexpr int kHotkeyMiddleLock = 1020;
inline constexpr int kHotkeyMiddleUnlock = 1021;
inline constexpr int kHotkeyCentre = 1023;

// Floating window.
inline constexpr int kPauseButton = 1032;
inline constexpr int kWheelButton = 2011;  // scrolling by head

// Flight page.
inline constexpr int kDetectSimulator = 1076;
inline constexpr int kFlightAutoCentre = 1080;
inline constexpr int kSliderLrSimFS = 1090;
inline constexpr int kSliderUdSimFS = 1092;
inline constexpr int kSliderSmoothSimFS = 1094;
inline constexpr int kFlightTarget = 2001;  // the address the view link sends to

inline constexpr int kSpeedProfileButton = 1097;  // mouse settings and flight pages

// About box.
inline constexpr int kAboutInformation = 1300;

}  // namespace ControlIds
