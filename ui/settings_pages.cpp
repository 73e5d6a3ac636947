#include "ui/settings_pages.h"

#include <algorithm>

#include "output/portal_shortcuts.h"
#include "output/x11_hotkey_grabber.h"
#include "ui/camera_page.h"
#include "ui/dlg_click.h"
#include "ui/flight_page.h"
#include "ui/hotkey_page.h"
#include "ui/main_sheet.h"
#include "ui/page_tooltips.h"
#include "ui/settings_page.h"
#include "ui/system_page.h"

namespace {

template <typename Page>
CMyPropertyPageToolTips* Make(PageHost& host) {
    return new Page(host);
}

CMyPropertyPageToolTips* MakeAutoClickPage(PageHost& host) {
    return new CmivexDlgClick(host.store, host.mirror, host.floatWindow, host.clickSound);
}

// The program's id for the desktop: the name of its installed menu entry, mivex.desktop.
constexpr const char* kDesktopEntryId = "mivex";

CMyPropertyPageToolTips* MakeHotkeyPage(PageHost& host) {
    // X11 grabs in a Wayland session see only keys typed into X11 windows: there the desktop's
    // shortcuts take the hotkeys where its portal offers them.
    std::unique_ptr<IDesktopShortcuts> shortcuts;
    if (host.waylandSession) shortcuts = std::make_unique<CPortalShortcuts>(kDesktopEntryId);
    return new CMivexDlgHotkey(host, std::make_unique<CX11HotkeyGrabber>(), std::move(shortcuts));
}

}  // namespace

const std::array<SettingsPageEntry, 6> kSettingsPages = {{
    {SettingsPage::Settings, "Settings", 5, Make<CmivexDlgSettings>},
    {SettingsPage::System, "System setup", 0, Make<CmivexDlgSystem>},
    {SettingsPage::Hotkeys, "Hotkeys", 3, MakeHotkeyPage},
    {SettingsPage::AutoClick, "Auto click", 1, MakeAutoClickPage},
    {SettingsPage::Flight, "Flight", 2, Make<CMivexDlgFlight>},
    {SettingsPage::Camera, "Camera", 4, Make<CmivexDlgCamera>},
}};

int SettingsPageIndex(SettingsPage page) {
    const auto it = std::find_if(kSettingsPages.begin(), kSettingsPages.end(),
                                 [page](const SettingsPageEntry& entry) { return entry.page == page; });
    return static_cast<int>(it - kSettingsPages.begin());
}

void AddSettingsPages(CmivexDlgMain& sheet, PageHost& host) {
    for (const SettingsPageEntry& entry : kSettingsPages) {
        CMyPropertyPageToolTips* page = entry.make(host);
        page->setWindowTitle(entry.title);
        sheet.AddPage(page);
    }
}

void ActivateSettingsPagesOnce(CmivexDlgMain& sheet) {
    for (int rank = 0; rank < static_cast<int>(kSettingsPages.size()); ++rank)
        for (int index = 0; index < static_cast<int>(kSettingsPages.size()); ++index)
            if (kSettingsPages[index].activation == rank) sheet.SetActivePage(index);
}
