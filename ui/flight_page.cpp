#include "ui/flight_page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/settings_mirror.h"
#include "base/settings_store.h"
#include "engine/engine_control.h"
#include "output/mouse.h"
#include "output/udp_sim_link.h"
#include "ui/control_ids.h"
#include "ui/hover_button.h"
#include "ui/page_pictures.h"
#include "ui/profile_editor/profile_dialog_link.h"
#include "ui/setting_box.h"
#include "ui/slider_row.h"
#include "ui/tooltip_strings.h"

namespace {

// In the page's order of CMivexDlgFlight::Row; "Set Default" puts each back to its default.
const std::array<SliderRowSpec, CMivexDlgFlight::kRowCount> kFlightSliderRows{{
    {Setting::kSliderLrSimFS, "Camera Left and Right", ControlIds::kSliderLrSimFS,
     [](int position) { return position * 2; }, &CSettingsMirror::m_nSliderLrSimFS},
    {Setting::kSliderUdSimFS, "Camera Up and Down", ControlIds::kSliderUdSimFS,
     [](int position) { return position * 2; }, &CSettingsMirror::m_nSliderUdSimFS},
    {Setting::kSliderSmoothSimFS, "Camera Smooth movement", ControlIds::kSliderSmoothSimFS,
     [](int position) { return position * 10; }, &CSettingsMirror::m_nSliderSmoothSimFS},
}};

// The stored address, or the default one with the reason when the stored text is no address.
SimTarget StoredTarget(const CSettingsStore& store, std::string& refusal) {
    std::string error;
    const std::string text = store.ReadText(Setting::kFlightTarget);
    if (auto target = ParseSimTarget(text, error)) return *target;
    const SimTarget fallback = *ParseSimTarget(Setting::kFlightTarget.defaultValue, error);
    refusal = "The stored address '" + text + "' is not usable: " + error + ". Sending to " + fallback.Text() + ".";
    return fallback;
}

}  // namespace

std::unique_ptr<ISimLink> CMivexDlgFlight::UdpLink(const SimTarget& target) {
    return std::make_unique<CUdpSimLink>(target);
}

CMivexDlgFlight::CMivexDlgFlight(PageHost& host, LinkFactory makeLink, CFlightLink::Sleep sleep)
    : m_host(host),
      m_makeLink(std::move(makeLink)),
      m_link(host.mirror, m_makeLink(m_target), std::move(sleep)),
      m_rows(MakeSliderRows(kFlightSliderRows, host.store, host.mirror, this)),
      m_pDetect(new QCheckBox(tr("Detect Flightsimulator"), this)),
      m_pTarget(new QLineEdit(this)),
      m_pTargetMessage(new QLabel(this)),
      m_pStatus(new QLineEdit(this)),
      m_pAutoCentre(new CSettingBox(tr("Centre camera automatically"), Setting::kFlightAutoCenter,
                                    &CSettingsMirror::m_bFlightAutoCenter, host.store, host.mirror, this)),
      m_pMouseLimit(new CSettingBox(tr("Limit mouse movement"), Setting::kMouseLimit, &CSettingsMirror::m_bMouseLimit,
                                    host.store, host.mirror, this)),
      m_pProfileButton(MakeSpeedProfileButton(host.profile, this)),
      m_pSetDefault(new QPushButton(tr("Set Default"), this)) {
    SetControlId(m_pDetect, ControlIds::kDetectSimulator);
    SetControlId(m_pAutoCentre, ControlIds::kFlightAutoCentre);
    SetControlId(m_pTarget, ControlIds::kFlightTarget);
    SetControlId(m_pSetDefault, ControlIds::kSetDefault);

    auto* targetLabel = new QLabel(tr("&Address:"), this);
    targetLabel->setBuddy(m_pTarget);
    m_pTarget->setPlaceholderText(QString::fromUtf8(Setting::kFlightTarget.defaultValue));
    m_pTargetMessage->setWordWrap(true);
    m_pTargetMessage->hide();
    m_pStatus->setReadOnly(true);
    m_pStatus->setFocusPolicy(Qt::NoFocus);
    m_pStatus->setAccessibleName(tr("Connection status"));
    m_pStatus->hide();

    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    for (CSliderRow* row : m_rows) row->AddTo(grid, grid->rowCount());

    auto* link = new QHBoxLayout;
    link->addWidget(m_pDetect);
    link->addSpacing(fontMetrics().averageCharWidth() * 2);
    link->addWidget(targetLabel);
    link->addWidget(m_pTarget, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pSetDefault);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(fontMetrics().height() / 2);
    layout->addLayout(link);
    layout->addWidget(m_pTargetMessage);
    layout->addWidget(m_pStatus);
    layout->addWidget(m_pAutoCentre);
    layout->addWidget(m_pMouseLimit);
    layout->addSpacing(fontMetrics().height() / 2);
    layout->addLayout(SpeedProfileRow(m_pProfileButton));
    layout->addStretch(1);
    layout->addLayout(buttons);

    m_timer.setInterval(CFlightLink::kTimerInterval);
    connect(&m_timer, &QTimer::timeout, this, &CMivexDlgFlight::OnTimer);
    // toggled, not clicked: a screen reader toggles a box without clicking it.
    connect(m_pDetect, &QCheckBox::toggled, this, &CMivexDlgFlight::OnDetect);
    connect(m_pTarget, &QLineEdit::editingFinished, this, &CMivexDlgFlight::OnTargetEntered);
    connect(m_pSetDefault, &QPushButton::clicked, this, &CMivexDlgFlight::OnSetDefault);

    m_host.engine.RegisterView(&m_link);
    m_host.viewCentre = &m_link;  // the centre hotkey centres this view
}

CMivexDlgFlight::~CMivexDlgFlight() {
    if (m_host.viewCentre == &m_link) m_host.viewCentre = nullptr;
    m_host.engine.RegisterView(nullptr);
}

void CMivexDlgFlight::OnInitDialog() {
    SetToolTipsEnabled(true);
    for (CSliderRow* row : m_rows) row->Load();
    std::string refusal;
    m_target = StoredTarget(m_host.store, refusal);
    m_link.SetLink(m_makeLink(m_target));
    ShowTarget(QString::fromStdString(refusal));
    SetCheckQuietly(m_pDetect, m_host.store.ReadBool(Setting::kFlight));
    // The profile dialog, made later, reads this; only a click forces the profile on now.
    m_host.profile.SetFlightChecked(m_pDetect->isChecked());
    EnableLink();
    m_pAutoCentre->Load();
    const int flightVersion = m_host.store.Read(Setting::kFlightVersion);
    ReleaseMiddleButton(m_host.mouse);
    if (flightVersion != 0) m_host.mirror.m_bClicksOff = true;
    m_pMouseLimit->Load();
    CMyPropertyPageToolTips::OnInitDialog();
}

void CMivexDlgFlight::OnDetect(bool checked) {
    m_host.store.WriteBool(Setting::kFlight, checked);
    // Checked: the view follows the head's position, which the profile path gives.
    if (checked) m_host.engine.UseSpeedProfile(true);
    m_host.profile.SetFlightChecked(checked);
    EnableLink();
}

void CMivexDlgFlight::EnableLink() {
    const bool on = m_pDetect->isChecked();
    if (on) {
        m_link.EnableLink(true);
        m_pStatus->setText(QString::fromStdString(m_link.StatusText()));
        m_pStatus->show();
        m_timer.start();
    } else {
        m_timer.stop();
        m_pStatus->hide();
        m_link.EnableLink(false);
    }
}

void CMivexDlgFlight::OnTimer() {
    m_link.OnTimer();
    m_pStatus->setText(QString::fromStdString(m_link.StatusText()));
}

bool CMivexDlgFlight::OnTargetEntered() {
    const std::string text = m_pTarget->text().toStdString();
    std::string error;
    const auto target = ParseSimTarget(text, error);
    if (!target) {
        ShowTarget(tr("'%1' was not taken: %2. Still sending to %3.")
                       .arg(QString::fromStdString(text), QString::fromStdString(error),
                            QString::fromStdString(m_target.Text())));
        return false;
    }
    const bool changed = *target != m_target;
    m_target = *target;
    ShowTarget(QString());
    if (!changed) return true;
    m_host.store.WriteText(Setting::kFlightTarget, m_target.Text());
    // A link that is on closes in order and tries the new address at the next tick.
    const bool on = m_pDetect->isChecked();
    if (on) m_link.EnableLink(false);
    m_link.SetLink(m_makeLink(m_target));
    if (on) EnableLink();
    return true;
}

void CMivexDlgFlight::ShowTarget(const QString& refusal) {
    m_pTarget->setText(QString::fromStdString(m_target.Text()));
    m_pTargetMessage->setText(refusal);
    m_pTargetMessage->setVisible(!refusal.isEmpty());
    // A screen reader reads the message as the label's name and with the field it is about.
    m_pTargetMessage->setAccessibleName(refusal);
    m_pTarget->setAccessibleDescription(refusal);
}

void CMivexDlgFlight::OnSetDefault() {
    for (CSliderRow* row : m_rows) row->SetDefault();
}
