#include "ui/tooltip_strings.h"

#include <algorithm>
#include <array>
#include <iterator>

#include <QVariant>
#include <QWidget>

#include "ui/control_ids.h"

namespace {

using namespace ControlIds;

constexpr const char* kControlIdProperty = "mivexControlId";

struct TooltipEntry {
    int id;
    const char* text;  // UTF-8
};

// Sorted by id.
constexpr std::array kTooltips = std::to_array<TooltipEntry>({
    {kSetDefault, "Sets values in this dialog to the suggested default values"},
    {kShowHeadDetect, "Show head detection square"},
    {kMouseAtStart, "Activate mouse/embedded camera in Mivex!, as soon as the program is loaded."},
    {kDwellSeconds, "Time delay before activation."},
    {kDirectionLeftRight, "Change left to right head movements. Moving to the left becomes moving to the right."},
    {kSliderLrMouse,
     "Increases the mouse movement, when the slider is moved to the right. In the left – right direction."},
    {kSliderUdMouse,
     "Increases the mouse movement, when the slider is moved to the right. In the up – down direction."},
    {kSliderSmoothMouse,
     "Smooth the head movement. Eliminating unwanted head movements. Moving the slider to the right gives more smoothing."},
    {kSliderAccWindowMouse,
     "When mouse acceleration is enabled, this determines the amount of head movement after which the acceleration is enabled."},
    {kSliderAccMouse,
     "When mouse acceleration is enabled, this determines the amount of acceleration (movement is more). Moving the slider to the right = more movement."},
    {kAccelerationEnable, "Enables mouse acceleration, (activates the 2 sliders above) . "},
    {kStartAtLogin, "Start Mivex! When Windows loads."},
    {kHotkeyActivate, "This key enables Mivex! Moves the mouse or camera around with your head."},
    {kHotkeyLeft, "Simulates pressing the left mouse key."},
    {kHotkeyMiddle, "Simulates pressing the middle mouse key."},
    {kHotkeyRight, "Simulates pressing the right mouse key."},
    {kHotkeyDouble, "Simulates double clicking the left mouse key."},
    {kHotkeyMiddleLock, "Simulates holding down the middle mouse key."},
    {kHotkeyMiddleUnlock, "Simulates releasing the middle mouse key."},
    {kHotkeyCentre, "Reset the profile and/or camera in the default front position"},
    {kPauseButton, "Pause button"},
    {kSetCamera, "1e select a new resolution from the list above.  NEEDS a restart of Mivex!"},
    {kCameraInformation, "Additional information about the attached camera."},
    {kDetectSimulator, "Tries to connect to FSX."},
    {kFlightAutoCentre, "Adjust for the drift from the centre of the view"},
    {kResolutionList, "Available camera resolutions for the selected camera"},
    {kCameraView, "Modified camera view, with optional head detection square."},
    {kSliderLrSimFS,
     "Increases the camera movement, when the slider is moved to the right. In the left – right direction."},
    {kSliderUdSimFS,
     "Increases the camera movement, when the slider is moved to the right. In the up – down direction."},
    {kSliderSmoothSimFS, "Smoothes the camera movements when moving the slider to the right"},
    {kSpeedProfileButton, "Setup the speed profile (opens new dialog)"},
    {kAutoClickEnable, "Enable hands-free mode, using time delay activation."},
    {kAboutInformation, "Mivex! & camera information"},
    {kFlightTarget,
     "Where the head's pose is sent, as host:port: opentrack's input \"UDP over network\" "
     "listens at 127.0.0.1:4242."},
    {kScrollSpeed,
     "How fast the page scrolls for a head moved away from where scrolling began, with the floating window's "
     "wheel chosen. Moving the slider to the right scrolls faster."},
    {kShakeToggle,
     "Shake your head quickly, left-right-left within a second, to switch head control off; "
     "shake again to switch it on. The pointer goes back to where it was before the shake."},
});

static_assert(std::is_sorted(kTooltips.begin(), kTooltips.end(),
                             [](const TooltipEntry& a, const TooltipEntry& b) { return a.id < b.id; }));

}  // namespace

void SetControlId(QWidget* control, int id) {
    if (control != nullptr) {
        control->setProperty(kControlIdProperty, id);
    }
}

int ControlId(const QWidget* control) {
    if (control == nullptr) {
        return 0;
    }
    const QVariant id = control->property(kControlIdProperty);
    return id.isValid() ? id.toInt() : 0;
}

std::optional<QString> TooltipString(int id) {
    const auto it = std::lower_bound(kTooltips.begin(), kTooltips.end(), id,
                                     [](const TooltipEntry& e, int key) { return e.id < key; });
    if (it == kTooltips.end() || it->id != id) {
        return std::nullopt;
    }
    return QString::fromUtf8(it->text);
}
