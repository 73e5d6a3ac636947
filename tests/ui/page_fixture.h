// What every page test needs: a private settings file, the mirror, a fake frame road, a pointer
// that records instead of injecting, and the speed profile dialog's link, gathered as a PageHost.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine_control.h"
#include "mouse.h"
#include "profile_dialog_link.h"
#include "recording_injector.h"
#include "settings_mirror.h"
#include "settings_pages.h"
#include "settings_store.h"
#include "speed_profile.h"
#include "test_support.h"

// The frame road as a page sees it, with nothing running behind it.
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
    void ResetProfile() override {}
    void RegisterPointer(IPointerOutput*) override {}
    void RegisterView(IViewOutput*) override {}
    void RegisterSocket(ISocketOutput*) override {}

    EngineStatus status;
    bool liveView = false;
    bool useProfile = false;
    CSpeedProfile profile;
};

class PageFixture : public testing::Test {
protected:
    test::TempConfigHome home;
    CSettingsStore store;
    CSettingsMirror mirror;
    FakeEngine engine{store};
    CRecordingInjector injector;
    CMouse mouse{injector, mirror};
    CProfileDialogLink profileLink;
    PageHost host{store, mirror, engine, mouse, profileLink};
};
