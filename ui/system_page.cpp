#include "system_page.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "autostart_entry.h"
#include "control_ids.h"
#include "logging.h"
#include "mouse.h"
#include "paths.h"
#include "settings_mirror.h"
#include "settings_store.h"
#include "tooltip_strings.h"

CmivexDlgSystem::CmivexDlgSystem(PageHost& host)
    : m_host(host),
      m_pStartAtLogin(new QCheckBox(tr("Start Mivex! at startup"), this)),
      m_pMouseAtStart(new QCheckBox(tr("Enable mouse at startup"), this)) {
    SetControlId(m_pStartAtLogin, ControlIds::kStartAtLogin);
    SetControlId(m_pMouseAtStart, ControlIds::kMouseAtStart);
    auto* ok = new QPushButton(tr("OK"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pStartAtLogin);
    layout->addWidget(m_pMouseAtStart);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(m_pMouseAtStart, &QCheckBox::clicked, this, &CmivexDlgSystem::OnMouseAtStart);
    connect(m_pStartAtLogin, &QCheckBox::clicked, this, &CmivexDlgSystem::OnStartAtLogin);
    connect(ok, &QPushButton::clicked, this, &CmivexDlgSystem::OnOK);
}

void CmivexDlgSystem::OnInitDialog() {
    SetToolTipsEnabled(true);
    CMyPropertyPageToolTips::OnInitDialog();
    if (!m_host.mirror.m_bMouseActive) {
        const bool useMouse = m_host.store.ReadBool(Setting::kUseMouse);
        m_pMouseAtStart->setChecked(useMouse);
        m_host.mirror.m_bMouseActive = useMouse;
    }
    // The box opens unchecked whatever is stored; only the entry follows the stored value.
    SetRunAtStartup(m_host.store.ReadBool(Setting::kStartupProgram));
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
