#include "ui/camera_controls_dialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include "capture/video_input.h"

namespace {

constexpr const char* kTitle = "Camera settings";
constexpr const char* kNoControls = "This camera has no settings of its own.";
constexpr const char* kReset = "Reset to defaults";

QString Name(const CaptureControl& control) { return QString::fromStdString(control.name); }

QString Failure(const CaptureControl& control, const std::string& reason) {
    return Name(control) + QStringLiteral(": ") + QString::fromStdString(reason);
}

bool SameList(const std::vector<CaptureControl>& a, const std::vector<CaptureControl>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CaptureControl& x, const CaptureControl& y) {
        return x.id == y.id && x.kind == y.kind && x.minimum == y.minimum && x.maximum == y.maximum && x.menu == y.menu;
    });
}

}  // namespace

CCameraControlsDialog::CCameraControlsDialog(CNCVideoInput& camera, QWidget* parent)
    : QDialog(parent), m_camera(camera) {
    setWindowTitle(QString::fromLatin1(kTitle));
    m_pScroll = new QScrollArea(this);
    m_pScroll->setWidgetResizable(true);
    m_pScroll->setFrameShape(QFrame::NoFrame);
    m_pNone = new QLabel(QString::fromLatin1(kNoControls), this);
    m_pError = new QLabel(this);
    m_pError->setWordWrap(true);
    m_pError->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_pError->setAccessibleName(QStringLiteral("Error"));
    m_pError->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_pReset = buttons->addButton(QString::fromLatin1(kReset), QDialogButtonBox::ResetRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    connect(m_pReset, &QPushButton::clicked, this, &CCameraControlsDialog::ResetToDefaults);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pNone);
    layout->addWidget(m_pScroll, 1);
    layout->addWidget(m_pError);
    layout->addWidget(buttons);
}

QWidget* CCameraControlsDialog::Editor(std::uint32_t id) const {
    const auto row = m_rows.find(id);
    return row == m_rows.end() ? nullptr : row->second.editor;
}

QString CCameraControlsDialog::ErrorText() const { return m_pError->isHidden() ? QString() : m_pError->text(); }

void CCameraControlsDialog::Refresh() { ShowErrors(ReadControls()); }

QStringList CCameraControlsDialog::ReadControls() {
    std::vector<CaptureControl> controls = m_camera.Controls();
    const bool sameList = SameList(controls, m_controls) && m_pRowsWidget != nullptr;
    m_controls = std::move(controls);
    if (sameList)
        UpdateRows();
    else
        Rebuild();
    QStringList unreadable;
    for (const CaptureControl& control : m_controls)
        if (!control.error.empty()) unreadable << Failure(control, control.error);
    return unreadable;
}

void CCameraControlsDialog::ShowErrors(const QStringList& errors) {
    m_pError->setText(errors.join(u'\n'));
    m_pError->setVisible(!errors.isEmpty());
}

void CCameraControlsDialog::Rebuild() {
    m_rows.clear();
    // A row may be the sender of the change that led here: the old rows go once it returned.
    if (QWidget* old = m_pScroll->takeWidget()) old->deleteLater();
    m_pRowsWidget = new QWidget;
    auto* form = new QFormLayout(m_pRowsWidget);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_pScroll->setWidget(m_pRowsWidget);
    for (const CaptureControl& control : m_controls) AddRow(control);
    m_pNone->setVisible(m_controls.empty());
    m_pScroll->setVisible(!m_controls.empty());
    m_pReset->setEnabled(!m_controls.empty());
    UpdateRows();
    resize(m_controls.empty() ? sizeHint() : QSize(460, 420).expandedTo(sizeHint()));
}

void CCameraControlsDialog::AddRow(const CaptureControl& control) {
    const std::uint32_t id = control.id;
    Row row;
    QWidget* field = nullptr;
    switch (control.kind) {
        case CaptureControl::Kind::Integer: {
            auto* slider = new QSlider(Qt::Horizontal);
            slider->setRange(control.minimum, control.maximum);
            slider->setSingleStep(control.step);
            slider->setPageStep(std::max(control.step, (control.maximum - control.minimum) / 10));
            auto* number = new QSpinBox;
            number->setRange(control.minimum, control.maximum);
            number->setSingleStep(control.step);
            number->setAccessibleName(Name(control));
            connect(slider, &QSlider::valueChanged, number, &QSpinBox::setValue);
            connect(number, &QSpinBox::valueChanged, slider, &QSlider::setValue);
            connect(slider, &QSlider::valueChanged, this, [this, id](int value) { Apply(id, value); });
            field = new QWidget;
            auto* line = new QHBoxLayout(field);
            line->setContentsMargins(0, 0, 0, 0);
            line->addWidget(slider, 1);
            line->addWidget(number);
            row = {slider, number};
            break;
        }
        case CaptureControl::Kind::Boolean: {
            auto* box = new QCheckBox;
            connect(box, &QCheckBox::toggled, this, [this, id](bool on) { Apply(id, on ? 1 : 0); });
            field = row.editor = box;
            break;
        }
        case CaptureControl::Kind::Menu:
        case CaptureControl::Kind::IntegerMenu: {
            auto* list = new QComboBox;
            for (const CaptureControl::MenuEntry& entry : control.menu)
                list->addItem(QString::fromStdString(entry.text), entry.value);
            connect(list, &QComboBox::activated, this,
                    [this, id, list](int index) { Apply(id, list->itemData(index).toInt()); });
            field = row.editor = list;
            break;
        }
        case CaptureControl::Kind::Button: {
            auto* button = new QPushButton(Name(control));
            connect(button, &QPushButton::clicked, this, [this, id] { Apply(id, 0); });
            field = row.editor = button;
            break;
        }
    }
    row.editor->setAccessibleName(Name(control));
    auto* form = static_cast<QFormLayout*>(m_pRowsWidget->layout());
    if (control.kind == CaptureControl::Kind::Button) {
        form->addRow(QString(), field);
    } else {
        auto* label = new QLabel(Name(control));
        label->setBuddy(row.editor);
        form->addRow(label, field);
    }
    m_rows[id] = row;
}

void CCameraControlsDialog::UpdateRows() {
    m_bUpdating = true;
    for (const CaptureControl& control : m_controls) {
        const Row& row = m_rows.at(control.id);
        const bool changeable = control.kind == CaptureControl::Kind::Button ? !control.inactive && !control.readOnly
                                                                             : control.Changeable();
        row.editor->setEnabled(changeable);
        if (row.number) row.number->setEnabled(changeable);
        row.editor->setToolTip(control.error.empty() ? QString() : QString::fromStdString(control.error));
        if (!control.error.empty()) continue;
        if (auto* slider = qobject_cast<QSlider*>(row.editor)) {
            slider->setValue(control.value);  // the number follows
        } else if (auto* box = qobject_cast<QCheckBox*>(row.editor)) {
            box->setChecked(control.value != 0);
        } else if (auto* list = qobject_cast<QComboBox*>(row.editor)) {
            list->setCurrentIndex(list->findData(control.value));
        }
    }
    m_bUpdating = false;
}

void CCameraControlsDialog::Apply(std::uint32_t id, std::int32_t value) {
    if (m_bUpdating) return;
    const auto control = std::find_if(m_controls.begin(), m_controls.end(), [id](auto& c) { return c.id == id; });
    if (control == m_controls.end()) return;
    const CaptureControl changed = *control;
    std::string error;
    const bool applied = m_camera.SetControl(id, value, error);
    // Other settings may follow this one (automatic exposure rules the exposure time), and a
    // refused value must show what the camera really holds.
    QStringList errors = ReadControls();
    if (!applied) errors.prepend(Failure(changed, error));
    ShowErrors(errors);
}

void CCameraControlsDialog::ResetToDefaults() {
    QStringList failures;
    for (const CaptureControl& control : m_camera.Controls()) {
        if (control.kind == CaptureControl::Kind::Button || !control.Changeable() ||
            control.value == control.defaultValue)
            continue;
        std::string error;
        if (!m_camera.SetControl(control.id, control.defaultValue, error)) failures << Failure(control, error);
    }
    ShowErrors(failures + ReadControls());
}
