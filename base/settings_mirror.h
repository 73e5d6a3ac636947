// The settings that the frame road reads on every frame, mirrored from the settings store into
// atomics: pages write them on the user-interface thread, the capture thread reads them as they
// are at that moment. Also the run-time switches that decide where the motion goes.
//
//   CSettingsMirror mirror;
//   mirror.Load(store);                  // defaults and clamps of the settings table
//   int gain = mirror.m_nSliderLrMouse;  // on any thread
#pragma once

#include <atomic>

#include "base/settings_store.h"

struct CSettingsMirror {
    // Mouse page.
    std::atomic<int> m_nSliderLrMouse{Setting::kSliderLrMouse.defaultValue};
    std::atomic<int> m_nSliderUdMouse{Setting::kSliderUdMouse.defaultValue};
    std::atomic<int> m_nSliderSmoothMouse{Setting::kSliderSmoothMouse.defaultValue};
    std::atomic<bool> m_bAccMouse{Setting::kAccMouse.defaultValue != 0};
    std::atomic<int> m_nSliderAccWindowMouse{Setting::kSliderAccWindowMouse.defaultValue};
    std::atomic<int> m_nSliderAccMouse{Setting::kSliderAccMouse.defaultValue};
    std::atomic<bool> m_bLrMouse{Setting::kLrMouse.defaultValue != 0};

    // Flight page.
    std::atomic<int> m_nSliderLrSimFS{Setting::kSliderLrSimFS.defaultValue};
    std::atomic<int> m_nSliderUdSimFS{Setting::kSliderUdSimFS.defaultValue};
    std::atomic<int> m_nSliderSmoothSimFS{Setting::kSliderSmoothSimFS.defaultValue};
    std::atomic<bool> m_bFlightAutoCenter{Setting::kFlightAutoCenter.defaultValue != 0};
    std::atomic<bool> m_bMouseLimit{Setting::kMouseLimit.defaultValue != 0};
    std::atomic<bool> m_bClicksOff{Setting::kFlightVersion.defaultValue != 0};  // any flight version

    // Auto click page, read by the floating window's dwell tick. The delay is in ticks of 100 ms,
    // used as stored.
    std::atomic<bool> m_bAutoClick{Setting::kEnableAutoClick.defaultValue != 0};
    std::atomic<int> m_nAutoClickDelay{Setting::kValueAutoClick.defaultValue};
    std::atomic<bool> m_bAutoClickSound{Setting::kEnableAutoClickSound.defaultValue != 0};
    // Read by the mouse at every scroll step.
    std::atomic<int> m_nScrollSpeed{Setting::kScrollSpeed.defaultValue};
    std::atomic<bool> m_bPauseClicksWithoutFace{Setting::kPauseClicksWithoutFace.defaultValue != 0};
    std::atomic<int> m_nClickSettleTime{Setting::kClickSettleTime.defaultValue};  // in ticks
    std::atomic<bool> m_bRestInPlace{Setting::kRestInPlace.defaultValue != 0};

    // System page: a head shake switches m_bMouseActive.
    std::atomic<bool> m_bShakeToggle{Setting::kShakeToggle.defaultValue != 0};

    // Run-time switches: head motion on, a pipe client streaming, the simulator link open.
    std::atomic<bool> m_bMouseActive{false};
    std::atomic<bool> m_bSdkActive{false};
    std::atomic<bool> m_bFlightConnected{false};
    // Written by the mapping: acceleration applied on the last mouse frame with points.
    std::atomic<bool> m_bAccelerating{false};

    // Reads every mirrored key with its default and clamp (not the run-time switches, nor the
    // auto click values, which the auto click page reads).
    void Load(const CSettingsStore& store);
};
