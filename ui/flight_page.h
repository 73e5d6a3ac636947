// The "Flight" tab: the head steers a simulator's view instead of the pointer. Three slider rows
// (view gains left-right and up-down, view smoothing), "Detect Flightsimulator" with the address
// the pose goes to and the connection's status, "Centre camera automatically", "Limit mouse
// movement" and the button that opens the speed profile dialog.
//
// The page owns the view link and registers it with the engine as the view output; the link is
// started at the page's initialisation when "flight" is stored on, while the window stays hidden,
// and kept by the page's 2 s timer from then on.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include <QTimer>

#include "output/flight_link.h"
#include "ui/page_tooltips.h"
#include "ui/settings_pages.h"

class CHoverButton;
class CSettingBox;
class CSliderRow;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CMivexDlgFlight : public CMyPropertyPageToolTips {
    Q_OBJECT
public:
    enum Row { kLeftRight, kUpDown, kSmooth, kRowCount };
    // Makes the link to a target; the program's sends UDP, tests record.
    using LinkFactory = std::function<std::unique_ptr<ISimLink>(const SimTarget& target)>;

    explicit CMivexDlgFlight(PageHost& host, LinkFactory makeLink = UdpLink, CFlightLink::Sleep sleep = {});
    // Takes the link out of the engine; the engine's capture must have stopped.
    ~CMivexDlgFlight() override;

    void OnInitDialog() override;
    void OnSetDefault();
    // One tick of the link's 2 s timer.
    void OnTimer();
    // The address typed in the field: taken when it reads as host:port (the link moves there),
    // otherwise refused with the reason shown beside the field, and the current address kept.
    bool OnTargetEntered();

    CFlightLink& Link() { return m_link; }
    CSliderRow& SliderRow(Row row) const { return *m_rows[row]; }
    QCheckBox* DetectBox() const { return m_pDetect; }
    QLineEdit* StatusField() const { return m_pStatus; }
    QLineEdit* TargetField() const { return m_pTarget; }
    QLabel* TargetMessage() const { return m_pTargetMessage; }
    CHoverButton* ProfileButton() const { return m_pProfileButton; }
    const QTimer& LinkTimer() const { return m_timer; }

private:
    static std::unique_ptr<ISimLink> UdpLink(const SimTarget& target);
    void OnDetect(bool checked);
    void EnableLink();
    void ShowTarget(const QString& refusal);

    PageHost& m_host;
    const LinkFactory m_makeLink;
    SimTarget m_target;
    CFlightLink m_link;
    std::array<CSliderRow*, kRowCount> m_rows;
    QCheckBox* m_pDetect;
    QLineEdit* m_pTarget;
    QLabel* m_pTargetMessage;
    QLineEdit* m_pStatus;
    CSettingBox* m_pAutoCentre;
    CSettingBox* m_pMouseLimit;
    CHoverButton* m_pProfileButton;
    QPushButton* m_pSetDefault;
    QTimer m_timer;
};
