#include "ui/setting_box.h"

#include <QSignalBlocker>

#include "base/settings_store.h"

CSettingBox::CSettingBox(const QString& text, const SettingKey& key, MirrorSwitch mirrorSwitch, CSettingsStore& store,
                         CSettingsMirror& mirror, QWidget* page)
    : QCheckBox(text, page), m_key(key), m_store(store), m_mirror(mirror.*mirrorSwitch) {
    // toggled, not clicked: a screen reader toggles a box without clicking it.
    connect(this, &QCheckBox::toggled, this, &CSettingBox::OnToggled);
}

void CSettingBox::Load() {
    const bool on = m_store.ReadBool(m_key);
    {
        const QSignalBlocker quiet(this);
        setChecked(on);
    }
    m_mirror = on;
}

void CSettingBox::OnToggled(bool checked) {
    m_store.WriteBool(m_key, checked);
    m_mirror = checked;
}
