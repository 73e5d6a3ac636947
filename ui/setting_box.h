// A check box that is one on/off setting, as the pages show most of theirs: Load shows the stored
// value, and a toggle (a click, the keyboard, or the accessibility bus's toggle) stores the new one.
// The mirror's copy, which the frame road and the floating window read, follows both at once.
//
//   auto* box = new CSettingBox(tr("Limit mouse movement"), Setting::kMouseLimit,
//                               &CSettingsMirror::m_bMouseLimit, store, mirror, page);
//   box->Load();   // at the page's initialisation
#pragma once

#include <atomic>

#include <QCheckBox>

#include "base/settings_keys.h"
#include "base/settings_mirror.h"

class CSettingsStore;

// Which of the mirror's switches a box drives.
using MirrorSwitch = std::atomic<bool> CSettingsMirror::*;

class CSettingBox : public QCheckBox {
    Q_OBJECT
public:
    CSettingBox(const QString& text, const SettingKey& key, MirrorSwitch mirrorSwitch, CSettingsStore& store,
                CSettingsMirror& mirror, QWidget* page);

    // The stored value into the box, without a toggle, and into the mirror.
    void Load();

private:
    void OnToggled(bool checked);

    const SettingKey m_key;
    CSettingsStore& m_store;
    std::atomic<bool>& m_mirror;
};
