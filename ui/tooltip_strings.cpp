#include "tooltip_strings.h"

#include <algorithm>
#include <array>
#include <iterator>

#include <QVariant>
#include <QWidget>

namespace {

constexpr const char* kControlIdProperty = "mivexControlId";

struct TooltipEntry {
    int id;
    const char* text;  // UTF-8
};

// Sorted by id.
constexpr std::array kTooltips = std::to_array<TooltipEntry>({
    {4, "Sets values in this dialog to the suggested default values"},
    {1001, "Show head detection square"},
    {1002, "Activate mouse/embedded camera in Mivex!, as soon as the program is loaded."},
    {1004, "Time delay before activation."},
    {1005, "Change left to right head movements. Moving to the left becomes moving to the right."},
    {1006, "Increases the mouse movement, when the slider is moved to the right. In the left – right direction."},
    {1007, "Increases the mouse movement, when the slider is moved to the right. In the up – down direction."},
    {1008, "Smooth the head movement. Eliminating unwanted head movements. Moving the slider to the right gives more smoothing."},
    {1009, "When mouse acceleration is enabled, this determines the amount of head movement after which the acceleration is enabled."},
    {1010, "When mouse acceleration is enabled, this determines the amount of acceleration (movement is more). Moving the slider to the right = more movement."},
    {1011, "Enables mouse acceleration, (activates the 2 sliders above) . "},
    {1014, "Start Mivex! When Windows loads."},
    {1015, "This key enables Mivex! Moves the mouse or camera around with your head."},
    {1016, "Simulates pressing the left mouse key."},
    {1017, "Simulates pressing the middle mouse key."},
    {1018, "Simulates pressing the right mouse key."},
    {1019, "Simulates double clicking the left mouse key."},
    {1020, "Simulates holding down the middle mouse key."},
    {1021, "Simulates releasing the middle mouse key."},
    {1023, "Reset the profile and/or camera in the default front position"},
    {1032, "Pause button"},
    {1039, "1e select a new resolution from the list above.  NEEDS a restart of Mivex!"},
    {1043, "Additional information about the attached camera."},
    {1076, "Tries to connect to FSX."},
    {1080, "Adjust for the drift from the centre of the view"},
    {1083, "Available camera resolutions for the selected camera"},
    {1089, "Modified camera view, with optional head detection square."},
    {1090, "Increases the camera movement, when the slider is moved to the right. In the left – right direction."},
    {1092, "Increases the camera movement, when the slider is moved to the right. In the up – down direction."},
    {1094, "Smoothes the camera movements when moving the slider to the right"},
    {1097, "Setup the speed profile (opens new dialog)"},
    {1203, "Enable hands-free mode, using time delay activation."},
    {1300, "Mivex! & camera information"},
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
