// What every page test needs: a private settings file, the mirror, a fake frame road, a pointer
// that records instead of injecting, and the speed profile dialog's link, gathered as a PageHost.
#pragma once

#include <gtest/gtest.h>

#include "fake_engine.h"
#include "mouse.h"
#include "profile_dialog_link.h"
#include "recording_injector.h"
#include "settings_mirror.h"
#include "settings_pages.h"
#include "settings_store.h"
#include "test_support.h"

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
