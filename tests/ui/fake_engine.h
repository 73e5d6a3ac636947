// The frame road as a page sees it, with nothing running behind it.
#pragma once

#include "engine_control.h"
#include "settings_store.h"
#include "speed_profile.h"

class FakeEngine final : public IEngineControl {
public:
    explicit FakeEngine(const CSettingsStore& store) : profile(store) {}
    EngineStatus Status() const override { return status; }
    PointDisplay Display() const override { return {}; }
    void SetLiveView(bool on) override { liveView = on; }
    bool ReadLiveView(std::vector<std::uint8_t>&) const override { return false; }
    void AllowMorePoints() override {}
    void UseSpeedProfile(bool on) override { useProfile = on; }
    bool UsesSpeedProfile() const override { return useProfile; }
    CSpeedProfile& SpeedProfile() override { return profile; }
    void ResetProfile() override { ++resets; }
    void RegisterPointer(IPointerOutput*) override {}
    void RegisterView(IViewOutput*) override {}
    void RegisterSocket(ISocketOutput*) override {}

    EngineStatus status;
    bool liveView = false;
    bool useProfile = false;
    int resets = 0;
    CSpeedProfile profile;
};
