// The "System setup" tab: whether the desktop session starts the program at login, whether
// mouse control is on as soon as the program runs (a click switches it at once, too), and
// whether a head shake switches it on and off.
#pragma once

#include "ui/page_tooltips.h"
#include "ui/setting_box.h"
#include "ui/settings_pages.h"

class QCheckBox;

class CmivexDlgSystem : public CMyPropertyPageToolTips {
    Q_OBJECT
public:
    explicit CmivexDlgSystem(PageHost& host);

    // The boxes show the stored "startupProgram" and "useMouse"; mouse control is switched on
    // when "useMouse" is set (a restart may have switched it on already); the autostart entry is
    // written or removed again from "startupProgram", so an entry deleted by hand comes back.
    void OnInitDialog() override;

    QCheckBox* StartAtLoginBox() const { return m_pStartAtLogin; }
    QCheckBox* MouseAtStartBox() const { return m_pMouseAtStart; }
    QCheckBox* ShakeToggleBox() const { return m_pShakeToggle; }

private:
    void OnMouseAtStart(bool checked);
    void OnStartAtLogin(bool checked);
    // A folder that cannot be written is only logged; the setting is kept either way.
    void SetRunAtStartup(bool enable);

    PageHost& m_host;
    QCheckBox* m_pStartAtLogin;
    QCheckBox* m_pMouseAtStart;
    CSettingBox* m_pShakeToggle;
};
