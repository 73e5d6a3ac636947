#include "ui/system_page.h"

#include <QCheckBox>
#include <QVBoxLayout>

#include "base/autostart_entry.h"
#include "base/logging.h"
#include "base/paths.h"
#include "base/settings_mirror.h"
#include "base/settings_store.h"
#include "output/mouse.h"
#include "ui/control_ids.h"
#include "ui/tooltip_strings.h"

CmivexDlgSystem::CmivexDlgSystem(PageHost& host)
    : m_host(host),
      m_pStartAtLogin(new QCheckBox(tr("Start Mivex! at startup"), this)),
      m_pMouseAtStart(new QCheckBox(tr("Enable mouse at startup"), this)),
      m_pShakeToggle(new CSettingBox(tr("Switch head control on and off by shaking the head"), Setting::kShakeToggle,
                                     &CSettingsMirror::m_bShakeToggle, host.store, host.mirror, this)) {
    SetControlId(m_pStartAtLogin, ControlIds::kStartAtLogin);
    SetControlId(m_pMouseAtStart, ControlIds::kMouseAtStart);
    SetControlId(m_pShakeToggle, ControlIds::kShakeToggle);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pStartAtLogin);
    layout->addWidget(m_pMouseAtStart);
    layout->addWidget(m_pShakeToggle);
    layout->addStretch(1);

    // toggled, not clicked: a screen reader toggles a box without clicking it.
    connect(m_pMouseAtStart, &QCheckBox::toggled, this, &CmivexDlgSystem::OnMouseAtStart);
    connect(m_pStartAtLogin, &QCheckBox::toggled, this, &CmivexDlgSystem::OnStartAtLogin);
}

void CmivexDlgSystem::OnInitDialog() {
    SetToolTipsEnabled(true);
    CMyPropertyPageToolTips::OnInitDialog();
    // Each box shows what the next start will do, whatever the live state is: a restart may have
    // brought mouse control back on, and a hotkey may switch it later, without touching the box.
    const bool useMouse = m_host.store.ReadBool(Setting::kUseMouse);
    const bool startupProgram = m_host.store.ReadBool(Setting::kStartupProgram);
    SetCheckQuietly(m_pMouseAtStart, useMouse);
    SetCheckQuietly(m_pStartAtLogin, startupProgram);
    // A restart may have switched mouse control on already; the stored choice only adds to that.
    if (useMouse) m_host.mirror.m_bMouseActive = true;
    SetRunAtStartup(startupProgram);
    m_pShakeToggle->Load();
}

void CmivexDlgSystem::OnMouseAtStart(bool checked) {
    m_host.store.WriteBool(Setting::kUseMouse, checked);
    m_host.mirror.m_bMouseActive = checked;
    if (!checked) m_host.mouse.ReleaseButtons();
}

void CmivexDlgSystem::OnStartAtLogin(bool checked) {
    m_host.store.WriteBool(Setting::kStartupProgram, checked);
    SetRunAtStartup(checked);
}

void CmivexDlgSystem::SetRunAtStartup(bool enable) {
    std::string error;
    if (!::SetRunAtStartup(enable, RunningExecutable(), error) && m_host.log)
        m_host.log->Write("Start at login not changed: " + error, true);
}
