// The settings table: every section and key of the settings store, with the value
// a reader gets when the key is absent and the range the reader enforces.
//
//   CSettingsStore store;
//   int gain = store.ReadClamped(Setting::kSliderLrMouse);   // 1..20, default 8
//   store.Write(Setting::kSliderLrMouse, gain);
//
// Readers and writers always name the constant, never the text, so they cannot drift apart.
#pragma once

#include <array>
#include <limits>

struct SettingKey {
    const char* section;
    const char* key;
    int defaultValue;
    // What the reader enforces after reading; the full int range means "used as stored".
    int minValue = std::numeric_limits<int>::min();
    int maxValue = std::numeric_limits<int>::max();
};

// A key whose value is text, not a number.
struct TextSettingKey {
    const char* section;
    const char* key;
    const char* defaultValue;
};

namespace Section {
inline constexpr const char* kGeneral = "general";
inline constexpr const char* kSettings = "settings";
inline constexpr const char* kBoot = "boot";
inline constexpr const char* kCamera = "camera";
inline constexpr const char* kCamera1 = "camera1";
inline constexpr const char* kProfile = "profile";
}  // namespace Section

namespace Setting {
using Section::kBoot, Section::kCamera, Section::kCamera1, Section::kGeneral, Section::kProfile, Section::kSettings;

// Booleans are stored as 0 or 1 and read as true when non-zero.
inline constexpr int kFalse = 0;
inline constexpr int kTrue = 1;

// Counters kept at every start.
inline constexpr SettingKey kLogCount{kGeneral, "logCount", 0, 0, 10};  // outside 0..10 reads as 0
inline constexpr SettingKey kUpdateCount{kGeneral, "updateCount", 200};
inline constexpr SettingKey kRebootCount{kBoot, "rebootCount", 0};  // above kRebootLimit stops the start
inline constexpr int kRebootLimit = 30;
inline constexpr SettingKey kBootUseMouse{kBoot, "useMouse", kFalse};

// Camera.
// The camera list offers the first ten cameras; a negative index would name none.
inline constexpr SettingKey kCameraSelected{kCamera, "cameraSelected", 0, 0, 9};
inline constexpr SettingKey kCameraWidth{kCamera1, "width", 0};  // 0: no resolution chosen yet
// Picks between sizes of the chosen width (640 x 360, 640 x 480); 0: the camera's first.
inline constexpr SettingKey kCameraHeight{kCamera1, "height", 0};
inline constexpr SettingKey kCameraFps{kCamera1, "fps", 12, 1};
inline constexpr SettingKey kRebootResolution{kCamera1, "rebootResolution", kFalse};

// System page.
inline constexpr SettingKey kUseMouse{kSettings, "useMouse", kFalse};
inline constexpr SettingKey kStartupProgram{kSettings, "startupProgram", kFalse};
// A head shake switches head control on and off.
inline constexpr SettingKey kShakeToggle{kSettings, "shakeToggle", kFalse};

// Mouse page.
inline constexpr SettingKey kLrMouse{kSettings, "lrMouse", kFalse};
inline constexpr SettingKey kAccMouse{kSettings, "accMouse", kFalse};
inline constexpr SettingKey kSliderLrMouse{kSettings, "sliderLrMouse", 8, 1, 20};
inline constexpr SettingKey kSliderUdMouse{kSettings, "sliderUdMouse", 10, 1, 20};
inline constexpr SettingKey kSliderSmoothMouse{kSettings, "sliderSmoothMouse", 3, 2, 10};
inline constexpr SettingKey kSliderAccWindowMouse{kSettings, "sliderAccWindowMouse", 5, 2, 16};
inline constexpr SettingKey kSliderAccMouse{kSettings, "sliderAccMouse", 5, 4, 16};
inline constexpr int kSliderAccMouseSetDefault = 10;  // what the page's "Set Default" stores

// Flight page.
inline constexpr SettingKey kSliderLrSimFS{kSettings, "sliderLrSimFS", 8, 1, 50};
inline constexpr SettingKey kSliderUdSimFS{kSettings, "sliderUdSimFS", 10, 1, 50};
inline constexpr SettingKey kSliderSmoothSimFS{kSettings, "sliderSmoothSimFS", 3, 2, 10};
inline constexpr SettingKey kFlight{kSettings, "flight", kFalse};
inline constexpr SettingKey kFlightAutoCenter{kSettings, "flightAutoCenter", kTrue};
inline constexpr SettingKey kFlightVersion{kSettings, "flightVersion", 0};  // never written by the program
inline constexpr SettingKey kMouseLimit{kSettings, "MouseLimit", kFalse};
// Where the view link sends the head's pose: "host:port" of a UDP receiver.
inline constexpr TextSettingKey kFlightTarget{kSettings, "flightTarget", "127.0.0.1:4242"};

// Auto click page. The spin control keeps new values within 2..50; a stored value is used as it is.
inline constexpr SettingKey kEnableAutoClick{kSettings, "enableAutoClick", kFalse};
inline constexpr SettingKey kValueAutoClick{kSettings, "valueAutoClick", 15};
inline constexpr int kValueAutoClickMin = 2;
inline constexpr int kValueAutoClickMax = 50;
inline constexpr SettingKey kEnableAutoClickSound{kSettings, "enableAutoClickSound", kTrue};
// How fast scrolling by head goes (the floating window's wheel): 10 is 100 %.
inline constexpr SettingKey kScrollSpeed{kSettings, "scrollSpeed", 10, 1, 20};
// Rests count only while the head is followed, and only once it has been followed for the settle
// time (tenths of a second, 0..5 s; no control on the page).
inline constexpr SettingKey kPauseClicksWithoutFace{kSettings, "pauseClicksWithoutFace", kTrue};
inline constexpr SettingKey kClickSettleTime{kSettings, "clickSettleTime", 10, 0, 50};
// A rest is the pointer staying in place, not a steady move.
inline constexpr SettingKey kRestInPlace{kSettings, "restInPlace", kFalse};

// Hotkey page: modifier flags in the high 16 bits, virtual-key code in the low 16 bits, 0 for none.
inline constexpr SettingKey kHotkeyMouse{kSettings, "hotkeyMouse", 0};
inline constexpr SettingKey kHotkeyMouseLeft{kSettings, "hotkeyMouseLeft", 0};
inline constexpr SettingKey kHotkeyMouseMiddle{kSettings, "hotkeyMouseMiddle", 0};
inline constexpr SettingKey kHotkeyMouseMiddleLock{kSettings, "hotkeyMouseMiddleLock", 0};
inline constexpr SettingKey kHotkeyMouseMiddleUnlock{kSettings, "hotkeyMouseMiddleUnlock", 0};
inline constexpr SettingKey kHotkeyMouseRight{kSettings, "hotkeyMouseRight", 0};
inline constexpr SettingKey kHotkeyMouseLDouble{kSettings, "hotkeyMouseLDouble", 0};
inline constexpr SettingKey kHotkeySimCentre{kSettings, "hotkeySimCentre", 0};

// Floating window position, written when the window is destroyed.
inline constexpr SettingKey kFloatLeft{kSettings, "floatLeft", 100};
inline constexpr SettingKey kFloatTop{kSettings, "floatTop", 100};

// Speed profile. The key name contains a blank.
inline constexpr SettingKey kProfileEnable{kProfile, "profile enable", kFalse};

// The 32 curve points: [axis][side * 8 + point], side 0 = points "1".."8" (non-negative motion),
// side 1 = points "11".."18" (negative motion). Stored values are handle positions in the editor,
// 20 (strongest) to 220 (weakest); the tables use them unchecked.
inline constexpr int kProfilePointsPerSide = 8;
inline constexpr int kProfilePointsPerAxis = 2 * kProfilePointsPerSide;
inline constexpr int kProfilePointDefault = 120;
inline constexpr int kProfilePointTop = 20;
inline constexpr int kProfilePointBottom = 220;

constexpr SettingKey ProfilePoint(const char* name) {
    return {kProfile, name, kProfilePointDefault, kProfilePointTop, kProfilePointBottom};
}
inline constexpr std::array<std::array<SettingKey, kProfilePointsPerAxis>, 2> kProfilePoints{{
    {{ProfilePoint("profileAxis0_1"), ProfilePoint("profileAxis0_2"), ProfilePoint("profileAxis0_3"),
      ProfilePoint("profileAxis0_4"), ProfilePoint("profileAxis0_5"), ProfilePoint("profileAxis0_6"),
      ProfilePoint("profileAxis0_7"), ProfilePoint("profileAxis0_8"), ProfilePoint("profileAxis0_11"),
      ProfilePoint("profileAxis0_12"), ProfilePoint("profileAxis0_13"), ProfilePoint("profileAxis0_14"),
      ProfilePoint("profileAxis0_15"), ProfilePoint("profileAxis0_16"), ProfilePoint("profileAxis0_17"),
      ProfilePoint("profileAxis0_18")}},
    {{ProfilePoint("profileAxis1_1"), ProfilePoint("profileAxis1_2"), ProfilePoint("profileAxis1_3"),
      ProfilePoint("profileAxis1_4"), ProfilePoint("profileAxis1_5"), ProfilePoint("profileAxis1_6"),
      ProfilePoint("profileAxis1_7"), ProfilePoint("profileAxis1_8"), ProfilePoint("profileAxis1_11"),
      ProfilePoint("profileAxis1_12"), ProfilePoint("profileAxis1_13"), ProfilePoint("profileAxis1_14"),
      ProfilePoint("profileAxis1_15"), ProfilePoint("profileAxis1_16"), ProfilePoint("profileAxis1_17"),
      ProfilePoint("profileAxis1_18")}},
}};

// Every key but the profile points, in table order (for listing and checking the table).
inline constexpr std::array kNamedKeys{kLogCount,
                                       kUpdateCount,
                                       kRebootCount,
                                       kBootUseMouse,
                                       kCameraSelected,
                                       kCameraWidth,
                                       kCameraHeight,
                                       kCameraFps,
                                       kRebootResolution,
                                       kUseMouse,
                                       kStartupProgram,
                                       kShakeToggle,
                                       kLrMouse,
                                       kAccMouse,
                                       kSliderLrMouse,
                                       kSliderUdMouse,
                                       kSliderSmoothMouse,
                                       kSliderAccWindowMouse,
                                       kSliderAccMouse,
                                       kSliderLrSimFS,
                                       kSliderUdSimFS,
                                       kSliderSmoothSimFS,
                                       kFlight,
                                       kFlightAutoCenter,
                                       kFlightVersion,
                                       kMouseLimit,
                                       kEnableAutoClick,
                                       kValueAutoClick,
                                       kEnableAutoClickSound,
                                       kScrollSpeed,
                                       kPauseClicksWithoutFace,
                                       kClickSettleTime,
                                       kRestInPlace,
                                       kHotkeyMouse,
                                       kHotkeyMouseLeft,
                                       kHotkeyMouseMiddle,
                                       kHotkeyMouseMiddleLock,
                                       kHotkeyMouseMiddleUnlock,
                                       kHotkeyMouseRight,
                                       kHotkeyMouseLDouble,
                                       kHotkeySimCentre,
                                       kFloatLeft,
                                       kFloatTop,
                                       kProfileEnable};

// Every text key.
inline constexpr std::array kTextKeys{kFlightTarget};

}  // namespace Setting
