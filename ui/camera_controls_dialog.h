// The camera's own settings (brightness, contrast, exposure, focus, power-line frequency, ...),
// as the device lists them: a slider with a number box per range, a check box per switch, a
// list per menu, a button per action. A change goes to the camera at once; "Reset to defaults"
// gives every changeable setting the device's default. Settings that another one rules now, or
// that the device only reports, are shown disabled. A refused change or an unreadable value
// shows the device's reason, and the other settings stay usable.
//
//   CCameraControlsDialog dialog(camera, window);  // camera: the open capture
//   dialog.Refresh();                              // reads the settings again
//   dialog.show();
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include <QDialog>

#include "capture/capture_layer.h"

class CNCVideoInput;
class QLabel;
class QPushButton;
class QScrollArea;
class QSpinBox;

class CCameraControlsDialog : public QDialog {
    Q_OBJECT
public:
    CCameraControlsDialog(CNCVideoInput& camera, QWidget* parent = nullptr);

    // Reads the settings from the camera; rebuilds the rows when the list changed, else updates
    // their values and states.
    void Refresh();

    // The widget that changes the setting with that id (slider, check box, list or button), or
    // null.
    QWidget* Editor(std::uint32_t id) const;
    // What went wrong last, or empty.
    QString ErrorText() const;
    QPushButton* ResetButton() const { return m_pReset; }

private:
    struct Row {
        QWidget* editor = nullptr;
        QSpinBox* number = nullptr;  // beside a slider
    };

    // Reads the settings and shows them; returns the reasons of those that could not be read.
    QStringList ReadControls();
    void Rebuild();
    void UpdateRows();
    void AddRow(const CaptureControl& control);
    void Apply(std::uint32_t id, std::int32_t value);
    void ResetToDefaults();
    void ShowErrors(const QStringList& errors);

    CNCVideoInput& m_camera;
    std::vector<CaptureControl> m_controls;
    std::map<std::uint32_t, Row> m_rows;
    QWidget* m_pRowsWidget = nullptr;
    QScrollArea* m_pScroll = nullptr;
    QLabel* m_pNone = nullptr;
    QLabel* m_pError = nullptr;
    QPushButton* m_pReset = nullptr;
    bool m_bUpdating = false;  // values being shown, not changed by the user
};
