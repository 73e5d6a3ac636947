#include "ui/settings_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "base/settings_mirror.h"
#include "base/settings_store.h"
#include "ui/control_ids.h"
#include "ui/hover_button.h"
#include "ui/page_pictures.h"
#include "ui/slider_row.h"
#include "ui/tooltip_strings.h"

namespace {

// In the page's order of CmivexDlgSettings::Row.
const std::array<SliderRowSpec, CmivexDlgSettings::kRowCount> kMouseSliderRows{{
    {Setting::kSliderLrMouse, "Mouse Left and Right movement", ControlIds::kSliderLrMouse,
     [](int position) { return position * 5; }, &CSettingsMirror::m_nSliderLrMouse},
    {Setting::kSliderUdMouse, "Mouse Up and Down movement", ControlIds::kSliderUdMouse,
     [](int position) { return position * 5; }, &CSettingsMirror::m_nSliderUdMouse},
    {Setting::kSliderSmoothMouse, "Mouse Smooth", ControlIds::kSliderSmoothMouse,
     [](int position) { return position * 10; }, &CSettingsMirror::m_nSliderSmoothMouse},
    {Setting::kSliderAccWindowMouse, "Mouse window for acceleration", ControlIds::kSliderAccWindowMouse,
     [](int position) { return position * 100 / 16; }, &CSettingsMirror::m_nSliderAccWindowMouse},
    {Setting::kSliderAccMouse, "Mouse acceleration", ControlIds::kSliderAccMouse,
     [](int position) { return position * 100 / 16; }, &CSettingsMirror::m_nSliderAccMouse,
     Setting::kSliderAccMouseSetDefault},
}};

}  // namespace

CmivexDlgSettings::CmivexDlgSettings(PageHost& host)
    : m_host(host),
      m_rows(MakeSliderRows(kMouseSliderRows, host.store, host.mirror, this)),
      m_pAccMouse(new QCheckBox(tr("Enable mouse acceleration"), this)),
      m_pLrMouse(new QCheckBox(tr("Change mouse direction Left <-> Right"), this)),
      m_pIndicator(new QLabel(this)),
      m_pProfileButton(MakeSpeedProfileButton(host.profile, this)),
      m_pSetDefault(new QPushButton(tr("Set Default"), this)) {
    SetControlId(m_pAccMouse, ControlIds::kAccelerationEnable);
    SetControlId(m_pLrMouse, ControlIds::kDirectionLeftRight);
    SetControlId(m_pSetDefault, ControlIds::kSetDefault);
    m_pIndicator->setAccessibleName(tr("Acceleration applied"));
    m_pIndicator->setFixedSize(AccelerationPicture(false, 1).deviceIndependentSize().toSize());

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    m_rows[kLeftRight]->AddTo(grid, 0);
    m_rows[kUpDown]->AddTo(grid, 1);
    m_rows[kSmooth]->AddTo(grid, 2);
    auto* acceleration = new QHBoxLayout;
    acceleration->addWidget(m_pAccMouse);
    acceleration->addStretch(1);
    acceleration->addWidget(m_pIndicator);
    grid->addLayout(acceleration, 3, 0, 1, 4);
    m_rows[kAccWindow]->AddTo(grid, 4);
    m_rows[kAccAmount]->AddTo(grid, 5);
    grid->addWidget(m_pLrMouse, 6, 0, 1, 4);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pSetDefault);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(fontMetrics().height() / 2);
    layout->addLayout(SpeedProfileRow(m_pProfileButton));
    layout->addStretch(1);
    layout->addLayout(buttons);

    SetTabOrder({m_rows[kLeftRight]->Slider(), m_rows[kUpDown]->Slider(), m_rows[kSmooth]->Slider(), m_pAccMouse,
                 m_rows[kAccWindow]->Slider(), m_rows[kAccAmount]->Slider(), m_pLrMouse, m_pProfileButton,
                 m_pSetDefault});

    m_timer.setInterval(kIndicatorIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &CmivexDlgSettings::OnTimer);
    connect(m_pAccMouse, &QCheckBox::toggled, this, &CmivexDlgSettings::OnAccMouse);
    connect(m_pLrMouse, &QCheckBox::toggled, this, &CmivexDlgSettings::OnLrMouse);
    connect(m_pSetDefault, &QPushButton::clicked, this, &CmivexDlgSettings::OnSetDefault);
}

void CmivexDlgSettings::OnInitDialog() {
    SetToolTipsEnabled(true);
    const bool lrMouse = m_host.store.ReadBool(Setting::kLrMouse);
    SetCheckQuietly(m_pLrMouse, lrMouse);
    m_host.mirror.m_bLrMouse = lrMouse;
    const bool accMouse = m_host.store.ReadBool(Setting::kAccMouse);
    SetCheckQuietly(m_pAccMouse, accMouse);
    m_host.mirror.m_bAccMouse = accMouse;
    m_rows[kAccWindow]->SetEnabled(accMouse);
    m_rows[kAccAmount]->SetEnabled(accMouse);
    for (CSliderRow* row : m_rows) row->Load();
    // Blank until acceleration is first applied.
    m_host.mirror.m_bAccelerating = false;
    m_bIndicatorApplied = false;
    m_pIndicator->clear();
    CMyPropertyPageToolTips::OnInitDialog();
}

void CmivexDlgSettings::OnAccMouse(bool checked) {
    m_host.store.WriteBool(Setting::kAccMouse, checked);
    m_rows[kAccWindow]->SetEnabled(checked);
    m_rows[kAccAmount]->SetEnabled(checked);
    m_host.mirror.m_bAccMouse = checked;
}

void CmivexDlgSettings::OnLrMouse(bool checked) {
    m_host.store.WriteBool(Setting::kLrMouse, checked);
    m_host.mirror.m_bLrMouse = checked;
}

void CmivexDlgSettings::OnSetDefault() {
    SetCheckQuietly(m_pAccMouse, false);
    OnAccMouse(false);
    SetCheckQuietly(m_pLrMouse, false);
    OnLrMouse(false);
    for (CSliderRow* row : m_rows) row->SetDefault();
}

void CmivexDlgSettings::OnTimer() {
    const bool applied = m_host.mirror.m_bAccelerating;
    if (applied != m_bIndicatorApplied) ShowIndicator(applied);
}

void CmivexDlgSettings::ShowIndicator(bool applied) {
    m_bIndicatorApplied = applied;
    m_pIndicator->setPixmap(AccelerationPicture(applied, devicePixelRatioF()));
    m_pIndicator->setAccessibleDescription(applied ? tr("yes") : tr("no"));
}

void CmivexDlgSettings::OnOK() {
    m_timer.stop();
    CMyPropertyPageToolTips::OnOK();
}

// The indicator is only worth refreshing while someone can see it.
void CmivexDlgSettings::showEvent(QShowEvent* event) {
    m_timer.start();
    CMyPropertyPageToolTips::showEvent(event);
}

void CmivexDlgSettings::hideEvent(QHideEvent* event) {
    m_timer.stop();
    CMyPropertyPageToolTips::hideEvent(event);
}
