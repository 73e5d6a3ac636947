// The "Settings" tab: how head motion becomes pointer motion. Five slider rows (gains, smoothing,
// acceleration window and amount), acceleration on or off, left and right mirrored, an indicator
// that shows while acceleration is applied, and the button that opens the speed profile dialog.
// Every change is stored at once and reaches the frame road through the mirror on the next frame.
#pragma once

#include <array>
#include <memory>

#include <QTimer>

#include "ui/page_tooltips.h"
#include "ui/settings_pages.h"

class CHoverButton;
class CSliderRow;
class QCheckBox;
class QLabel;
class QPushButton;

class CmivexDlgSettings : public CMyPropertyPageToolTips {
    Q_OBJECT
public:
    static constexpr int kIndicatorIntervalMs = 100;
    enum Row { kLeftRight, kUpDown, kSmooth, kAccWindow, kAccAmount, kRowCount };

    explicit CmivexDlgSettings(PageHost& host);

    void OnInitDialog() override;
    void OnOK() override;
    void OnSetDefault();
    // One tick of the indicator's timer.
    void OnTimer();

    CSliderRow& SliderRow(Row row) const { return *m_rows[row]; }
    QCheckBox* AccelerationBox() const { return m_pAccMouse; }
    QCheckBox* DirectionBox() const { return m_pLrMouse; }
    QLabel* Indicator() const { return m_pIndicator; }
    CHoverButton* ProfileButton() const { return m_pProfileButton; }
    QPushButton* SetDefaultButton() const { return m_pSetDefault; }
    bool IndicatorShowsApplied() const { return m_bIndicatorApplied; }
    bool TimerRunning() const { return m_timer.isActive(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void OnAccMouse(bool checked);
    void OnLrMouse(bool checked);
    void ShowIndicator(bool applied);

    PageHost& m_host;
    std::array<CSliderRow*, kRowCount> m_rows;
    QCheckBox* m_pAccMouse;
    QCheckBox* m_pLrMouse;
    QLabel* m_pIndicator;
    CHoverButton* m_pProfileButton;
    QPushButton* m_pSetDefault;
    QTimer m_timer;
    bool m_bIndicatorApplied = false;  // the indicator shows the "applied" picture
};
