// What every page test needs: a private settings file, the mirror, a fake frame road, a pointer
// that records instead of injecting, and the speed profile dialog's link, gathered as a PageHost.
#pragma once

#include <gtest/gtest.h>

#include "base/settings_mirror.h"
#include "base/settings_store.h"
#include "output/mouse.h"
#include "output/recording_injector.h"
#include "tests/support/test_support.h"
#include "tests/ui/fake_engine.h"
#include "ui/profile_editor/profile_dialog_link.h"
#include "ui/settings_pages.h"

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
