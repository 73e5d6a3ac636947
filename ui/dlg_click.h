// The "Auto click" page: switches dwell clicking on and off, sets the still time before a click
// (2..50 tenths of a second), the click sound, what counts as a rest (only while the head is
// followed, and a steady move or only a pointer in place), and how fast the floating window's
// wheel scrolls. The floating window shows while auto click is on.
//
//   sheet.AddPage(new CmivexDlgClick(store, mirror, &floating, &sound));
#pragma once

#include <QAbstractSpinBox>
#include <QPointer>

#include "base/settings_keys.h"
#include "ui/page_tooltips.h"

class CDialogFloat;
class CSettingBox;
class CSliderRow;
class IClickSound;
class QCheckBox;
class QPushButton;
class CSettingsStore;
struct CSettingsMirror;

// A read-only number with up and down arrows: shows the text it is given and reports each step
// (arrow, key or wheel) as -1 or +1; what the number becomes is the owner's business.
class CUpDownField : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit CUpDownField(QWidget* parent = nullptr);

    void SetText(const QString& text);
    // Which arrows are enabled.
    void SetSteps(bool down, bool up);

    void stepBy(int steps) override;

signals:
    void stepped(int delta);

protected:
    StepEnabled stepEnabled() const override;

private:
    bool m_bDown = true;
    bool m_bUp = true;
};

class CmivexDlgClick : public CMyPropertyPageToolTips {
    Q_OBJECT
public:
    // The floating window and the sound may be null: nothing to select, move or play then.
    CmivexDlgClick(CSettingsStore& store, CSettingsMirror& mirror, CDialogFloat* floatWindow, IClickSound* sound);

    void OnInitDialog() override;

    // The still time in tenths of a second, as the arrows left it.
    int Position() const { return m_nPosition; }
    CSliderRow& ScrollSpeedRow() const { return *m_pScrollSpeed; }

private:
    void OnEnableAutoClick(bool on);
    void OnStep(int delta);
    void OnSound(bool on);
    void OnSetDefault();
    void ShowValue(int value);

    CSettingsStore& m_store;
    CSettingsMirror& m_mirror;
    QPointer<CDialogFloat> m_pFloat;  // gone before the page at the end of the program
    IClickSound* m_pClickSound;

    QCheckBox* m_pEnableBox = nullptr;
    CUpDownField* m_pSeconds = nullptr;
    QCheckBox* m_pSoundBox = nullptr;
    QPushButton* m_pSetDefault = nullptr;
    CSliderRow* m_pScrollSpeed = nullptr;
    CSettingBox* m_pPauseWithoutFaceBox = nullptr;
    CSettingBox* m_pRestInPlaceBox = nullptr;
    int m_nPosition = Setting::kValueAutoClick.defaultValue;
};
