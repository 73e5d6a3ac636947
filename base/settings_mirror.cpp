#include "base/settings_mirror.h"

void CSettingsMirror::Load(const CSettingsStore& store) {
    m_nSliderLrMouse = store.ReadClamped(Setting::kSliderLrMouse);
    m_nSliderUdMouse = store.ReadClamped(Setting::kSliderUdMouse);
    m_nSliderSmoothMouse = store.ReadClamped(Setting::kSliderSmoothMouse);
    m_bAccMouse = store.ReadBool(Setting::kAccMouse);
    m_nSliderAccWindowMouse = store.ReadClamped(Setting::kSliderAccWindowMouse);
    m_nSliderAccMouse = store.ReadClamped(Setting::kSliderAccMouse);
    m_bLrMouse = store.ReadBool(Setting::kLrMouse);
    m_nSliderLrSimFS = store.ReadClamped(Setting::kSliderLrSimFS);
    m_nSliderUdSimFS = store.ReadClamped(Setting::kSliderUdSimFS);
    m_nSliderSmoothSimFS = store.ReadClamped(Setting::kSliderSmoothSimFS);
    m_bFlightAutoCenter = store.ReadBool(Setting::kFlightAutoCenter);
    m_bMouseLimit = store.ReadBool(Setting::kMouseLimit);
    m_bClicksOff = store.ReadBool(Setting::kFlightVersion);
    m_bShakeToggle = store.ReadBool(Setting::kShakeToggle);
}
