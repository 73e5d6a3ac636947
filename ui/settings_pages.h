// The six pages of the settings window, listed once: their tab order, tab texts, the classes that
// make them, and the order in which start-up activates each once while the window stays hidden.
//
//   PageHost host{store, mirror, engine, mouse, profileLink};
//   AddSettingsPages(sheet, host);     // tabs in order
//   ActivateSettingsPagesOnce(sheet);  // every page initialises; the settings page stays current
#pragma once

#include <array>

class CCameraRecorder;
class CDialogFloat;
class CLogging;
class CMouse;
class CMyPropertyPageToolTips;
class CProfileDialogLink;
class CSettingsStore;
class CmivexDlgMain;
class IClickSound;
class IEngineControl;
class IViewCentre;
struct CSettingsMirror;

// What a page may reach of the running program, handed to it at construction: the settings and
// their mirror (written when the user changes a value), the frame road, the pointer for arming
// clicks, the speed profile dialog, the diagnostic log, the floating window and the click sound
// (these three may be null: not there), and the simulator view that the centre hotkey centres,
// set by the page that owns it (pages keep the host and look it up when they need it). Tests hand
// in a settings store in a private folder and a fake engine.
struct PageHost {
    CSettingsStore& store;
    CSettingsMirror& mirror;
    IEngineControl& engine;
    CMouse& mouse;
    CProfileDialogLink& profile;
    CLogging* log = nullptr;
    CDialogFloat* floatWindow = nullptr;
    IClickSound* clickSound = nullptr;
    IViewCentre* viewCentre = nullptr;
    bool waylandSession = false;  // the hotkeys then go to the desktop's shortcuts where it offers them
    // Records the webcam for a report; null when the camera is a video file or a recording.
    CCameraRecorder* cameraRecorder = nullptr;
    // The camera is a recording played again: when it delivers no frames, a restart would only
    // play it the same way.
    bool replayedCamera = false;
};

enum class SettingsPage { Settings, System, Hotkeys, AutoClick, Flight, Camera };

struct SettingsPageEntry {
    SettingsPage page;
    const char* title;
    int activation;  // place in the start-up activation
    CMyPropertyPageToolTips* (*make)(PageHost& host);
};

// In tab order.
extern const std::array<SettingsPageEntry, 6> kSettingsPages;

// Tab index of a page.
int SettingsPageIndex(SettingsPage page);

// Makes every page and adds it to the sheet, in tab order.
void AddSettingsPages(CmivexDlgMain& sheet, PageHost& host);
// Activates each page once in the start-up order, so each reads its settings now.
void ActivateSettingsPagesOnce(CmivexDlgMain& sheet);
