#include "ui/dlg_click.h"

#include <algorithm>

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/settings_mirror.h"
#include "base/settings_store.h"
#include "output/click_sound.h"
#include "ui/control_ids.h"
#include "ui/dialog_float.h"
#include "ui/setting_box.h"
#include "ui/slider_row.h"
#include "ui/tooltip_strings.h"

namespace {

// The still time as the field shows it: tenths of a second as seconds, "%3.1f".
QString Seconds(int tenths) { return QString::asprintf("%3.1f", tenths / 10.0); }

const SliderRowSpec kScrollSpeedRow{Setting::kScrollSpeed, "Scroll speed", ControlIds::kScrollSpeed,
                                    [](int position) { return position * 10; }, &CSettingsMirror::m_nScrollSpeed};

}  // namespace

CUpDownField::CUpDownField(QWidget* parent) : QAbstractSpinBox(parent) {
    // The text is shown, never typed: the arrows are the only way to change it.
    lineEdit()->setReadOnly(true);
    setAlignment(Qt::AlignRight);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
}

void CUpDownField::SetText(const QString& text) { lineEdit()->setText(text); }

void CUpDownField::SetSteps(bool down, bool up) {
    m_bDown = down;
    m_bUp = up;
    update();
}

void CUpDownField::stepBy(int steps) {
    for (int delta = steps > 0 ? 1 : -1; steps != 0; steps -= delta) emit stepped(delta);
}

QAbstractSpinBox::StepEnabled CUpDownField::stepEnabled() const {
    StepEnabled enabled = StepNone;
    if (m_bDown) enabled |= StepDownEnabled;
    if (m_bUp) enabled |= StepUpEnabled;
    return enabled;
}

CmivexDlgClick::CmivexDlgClick(CSettingsStore& store, CSettingsMirror& mirror, CDialogFloat* floatWindow,
                               IClickSound* sound)
    : m_store(store), m_mirror(mirror), m_pFloat(floatWindow), m_pClickSound(sound) {
    m_pEnableBox = new QCheckBox("Enable auto click", this);
    m_pSeconds = new CUpDownField(this);
    auto* secondsLabel = new QLabel("Seconds before auto click", this);
    secondsLabel->setBuddy(m_pSeconds);
    m_pSeconds->setAccessibleName(secondsLabel->text());
    m_pSeconds->setMinimumWidth(m_pSeconds->fontMetrics().horizontalAdvance("88.8") * 2);
    m_pSoundBox = new QCheckBox("Play sound after auto click time", this);
    // In the order they stand, "Set Default" last: the Tab order follows the order of making.
    m_pPauseWithoutFaceBox = new CSettingBox("Pause clicks while no face is followed", Setting::kPauseClicksWithoutFace,
                                             &CSettingsMirror::m_bPauseClicksWithoutFace, store, mirror, this);
    m_pRestInPlaceBox = new CSettingBox("A rest means the pointer stays in place", Setting::kRestInPlace,
                                        &CSettingsMirror::m_bRestInPlace, store, mirror, this);
    m_pScrollSpeed = new CSliderRow(kScrollSpeedRow, store, mirror, this);
    m_pSetDefault = new QPushButton("Set Default", this);
    SetControlId(m_pEnableBox, ControlIds::kAutoClickEnable);
    SetControlId(m_pSeconds, ControlIds::kDwellSeconds);
    SetControlId(m_pSetDefault, ControlIds::kSetDefault);

    auto* secondsRow = new QHBoxLayout;
    secondsRow->addWidget(m_pSeconds);
    secondsRow->addWidget(secondsLabel);
    secondsRow->addStretch(1);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_pSetDefault);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pEnableBox);
    layout->addLayout(secondsRow);
    layout->addWidget(m_pSoundBox);
    layout->addWidget(m_pPauseWithoutFaceBox);
    layout->addWidget(m_pRestInPlaceBox);
    auto* scrollRow = new QGridLayout;
    scrollRow->setColumnStretch(1, 1);
    m_pScrollSpeed->AddTo(scrollRow, 0);
    layout->addLayout(scrollRow);
    layout->addStretch(1);
    layout->addLayout(buttonRow);

    // Only the user's changes, by click, key or screen reader: the page sets its boxes quietly.
    connect(m_pEnableBox, &QCheckBox::toggled, this, &CmivexDlgClick::OnEnableAutoClick);
    connect(m_pSeconds, &CUpDownField::stepped, this, &CmivexDlgClick::OnStep);
    connect(m_pSoundBox, &QCheckBox::toggled, this, &CmivexDlgClick::OnSound);
    connect(m_pSetDefault, &QPushButton::clicked, this, &CmivexDlgClick::OnSetDefault);
}

void CmivexDlgClick::OnInitDialog() {
    const bool enabled = m_store.ReadBool(Setting::kEnableAutoClick);
    SetCheckQuietly(m_pEnableBox, enabled);
    m_pSeconds->setEnabled(enabled);
    m_mirror.m_bAutoClick = enabled;
    const bool sound = m_store.ReadBool(Setting::kEnableAutoClickSound);
    SetCheckQuietly(m_pSoundBox, sound);
    m_mirror.m_bAutoClickSound = sound;
    m_pPauseWithoutFaceBox->Load();
    m_mirror.m_nClickSettleTime = m_store.ReadClamped(Setting::kClickSettleTime);
    m_pRestInPlaceBox->Load();
    // A stored value outside 2..50 is used as it is until the user changes it.
    const int value = m_store.Read(Setting::kValueAutoClick);
    ShowValue(value);
    m_pScrollSpeed->Load();
    SetToolTipsEnabled(true);
    CMyPropertyPageToolTips::OnInitDialog();
}

void CmivexDlgClick::ShowValue(int value) {
    m_nPosition = value;
    m_pSeconds->SetText(Seconds(value));
    m_pSeconds->SetSteps(value > Setting::kValueAutoClickMin, value < Setting::kValueAutoClickMax);
    m_mirror.m_nAutoClickDelay = value;
}

void CmivexDlgClick::OnEnableAutoClick(bool on) {
    m_store.WriteBool(Setting::kEnableAutoClick, on);
    m_pSeconds->setEnabled(on);
    m_mirror.m_bAutoClick = on;
    if (!on && m_pFloat) m_pFloat->SelectButton(CDialogFloat::kPause);
}

void CmivexDlgClick::OnStep(int delta) {
    const int value = std::clamp(m_nPosition + delta, Setting::kValueAutoClickMin, Setting::kValueAutoClickMax);
    ShowValue(value);
    m_store.Write(Setting::kValueAutoClick, value);
}

void CmivexDlgClick::OnSound(bool on) {
    m_store.WriteBool(Setting::kEnableAutoClickSound, on);
    if (on && m_pClickSound) m_pClickSound->PlayClickSound();
    m_mirror.m_bAutoClickSound = on;
}

void CmivexDlgClick::OnSetDefault() {
    ShowValue(Setting::kValueAutoClick.defaultValue);
    m_store.Write(Setting::kValueAutoClick, Setting::kValueAutoClick.defaultValue);
    SetCheckQuietly(m_pSoundBox, true);
    m_mirror.m_bAutoClickSound = true;
    // Stored too, so that the box shows what the next start will use.
    m_store.Write(Setting::kEnableAutoClickSound, Setting::kTrue);
    m_pScrollSpeed->SetDefault();
    if (m_pFloat) m_pFloat->MoveToDefaultPlace();
}
