#include "ui/profile_editor/profile_dialog.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

#include "base/settings_store.h"
#include "engine/engine_control.h"
#include "profile/speed_profile.h"
#include "ui/profile_editor/profile_dialog_link.h"
#include "ui/profile_editor/profile_window.h"

namespace {

constexpr int kHalf = Setting::kProfilePointsPerSide;

bool AskYesNo(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QString::fromUtf8(CSettingsStore::kAppTitle), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

// The settings key shown in a column: columns 0..7 hold points "8".."1" (table slots 7..0),
// columns 8..15 points "11".."18" (table slots 8..15).
const SettingKey& ColumnKey(int axis, int column) {
    const int fromMiddle = CProfileWindow::FromMiddle(column);
    return Setting::kProfilePoints[axis][column < kHalf ? fromMiddle : kHalf + fromMiddle];
}

// A template's points "1".."8" laid out on both halves, "1" next to the middle.
CProfileWindow::ColumnValues TemplateColumns(const SpeedProfileTemplate& chosen) {
    CProfileWindow::ColumnValues values{};
    for (int column = 0; column < CProfileWindow::kColumns; ++column)
        values[column] = chosen.points[CProfileWindow::FromMiddle(column)];
    return values;
}

// The template list, where choosing a template copies it: only a deliberate choice selects a row,
// a click or Enter or Space on it (or a selection made through the accessibility bus). The arrow
// keys, typing a name and focus arriving (Qt makes the first row current then) move the current
// row only, so browsing never asks and the answer to a question never brings it back.
class CTemplateList : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index, const QEvent* event) const override {
        if (event == nullptr) return QItemSelectionModel::NoUpdate;
        if (event->type() == QEvent::MouseButtonPress) return QListWidget::selectionCommand(index, event);
        if (event->type() != QEvent::KeyPress) return QItemSelectionModel::NoUpdate;
        if (IsChoiceKey(static_cast<const QKeyEvent*>(event)->key()))
            return QListWidget::selectionCommand(index, event);
        // Not NoUpdate: with it some styles leave the current row where it is.
        return QItemSelectionModel::Clear;
    }
    void keyPressEvent(QKeyEvent* event) override {
        // Enter chooses the row rather than pressing the dialog's default button.
        if (IsEnter(event->key()) && currentIndex().isValid()) {
            selectionModel()->select(currentIndex(), QItemSelectionModel::ClearAndSelect);
            event->accept();
            return;
        }
        QListWidget::keyPressEvent(event);
    }

public:
    static bool IsEnter(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }
    static bool IsChoiceKey(int key) { return key == Qt::Key_Space || key == Qt::Key_Select; }
};

}  // namespace

// Keeps the repeats of a key held down from choosing a template again and from answering a
// question that the key's first press opened: only a new press chooses or answers. The X server
// repeats a held key as a release and a press with one time stamp, and Qt marks only some of them
// as repeats, so a press that comes at the time of the same key's release is one too.
class CmivexDlgProfile::CHeldKeys : public QObject {
public:
    CHeldKeys(QListWidget* templates, QObject* parent) : QObject(parent), m_pTemplates(templates) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    bool m_bAsking = false;  // a question is open

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (event->type() == QEvent::KeyRelease) {
            m_released = {key->key(), key->timestamp()};
            return false;
        }
        const bool repeat = key->isAutoRepeat() || m_released == std::pair(key->key(), key->timestamp());
        if (!repeat) return false;
        if (m_bAsking) return true;
        return receiver == m_pTemplates &&
               (CTemplateList::IsEnter(key->key()) || CTemplateList::IsChoiceKey(key->key()));
    }

private:
    QListWidget* m_pTemplates;
    std::pair<int, quint64> m_released{Qt::Key_unknown, 0};  // the key let go last, and when
};

namespace {

// A list box as tall as its items, so both choices show without scrolling at any scale.
template <typename List = QListWidget>
QListWidget* MakeShortList(const QString& name, QWidget* parent) {
    auto* list = new List(parent);
    list->setAccessibleName(name);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return list;
}

void FitToItems(QListWidget* list) {
    const int rows = list->count();
    list->setFixedHeight(rows * list->sizeHintForRow(0) + 2 * list->frameWidth());
    list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth() + 8);
}

}  // namespace

CmivexDlgProfile::CmivexDlgProfile(CSettingsStore& store, IEngineControl& engine, const CProfileDialogLink& link,
                                   QWidget* parent)
    : QDialog(parent),
      m_store(store),
      m_engine(engine),
      m_link(link),
      m_pAxisList(MakeShortList(tr("Axis"), this)),
      m_pTemplateList(MakeShortList<CTemplateList>(tr("Template"), this)),
      m_pMirror(new QCheckBox(tr("Mirror sides"), this)),
      m_pEnable(new QCheckBox(tr("Enable profile"), this)),
      m_pApply(new QPushButton(tr("Apply"), this)),
      m_pHeldKeys(new CHeldKeys(m_pTemplateList, this)),
      m_question(&AskYesNo) {
    setWindowTitle(tr("Speed profile"));
    m_pWindow = new CProfileWindow(m_pApply, this);
    m_pMirror->setEnabled(false);  // the halves always mirror each other
    m_pApply->setEnabled(false);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    auto* ok = new QPushButton(tr("OK"), this);
    for (QPushButton* button : {m_pApply, cancel, ok}) button->setAutoDefault(false);
    m_pApply->setDefault(true);

    auto* axisLabel = new QLabel(tr("Axis"), this);
    axisLabel->setBuddy(m_pAxisList);
    auto* templateLabel = new QLabel(tr("Template"), this);
    templateLabel->setBuddy(m_pTemplateList);
    auto* lists = new QHBoxLayout;
    lists->addWidget(axisLabel, 0, Qt::AlignTop);
    lists->addWidget(m_pAxisList, 0, Qt::AlignTop);
    lists->addStretch(1);
    lists->addWidget(templateLabel, 0, Qt::AlignTop);
    lists->addWidget(m_pTemplateList, 0, Qt::AlignTop);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pEnable);
    buttons->addStretch(1);
    buttons->addWidget(m_pApply);
    buttons->addWidget(cancel);
    buttons->addWidget(ok);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addWidget(m_pWindow, 1);
    layout->addWidget(m_pMirror);
    layout->addLayout(buttons);

    // Tab follows the dialog from top to bottom.
    QWidget* order[] = {m_pAxisList, m_pTemplateList, m_pWindow, m_pEnable, m_pApply, cancel, ok};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(m_pAxisList, &QListWidget::currentRowChanged, this, &CmivexDlgProfile::OnAxisChanged);
    // Queued: the list finishes the click or key that chose the template before the question
    // shows, so clearing the choice afterwards sticks.
    connect(m_pTemplateList, &QListWidget::itemSelectionChanged, this, &CmivexDlgProfile::OnTemplateChosen,
            Qt::QueuedConnection);
    connect(m_pApply, &QPushButton::clicked, this, &CmivexDlgProfile::OnApply);
    // toggled, not clicked: a screen reader toggles a box without clicking it.
    connect(m_pEnable, &QCheckBox::toggled, this, &CmivexDlgProfile::OnEnableProfile);
    connect(ok, &QPushButton::clicked, this, &CmivexDlgProfile::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::hide);
}

void CmivexDlgProfile::OnInitDialog() {
    m_pMirror->setChecked(true);
    m_bInAxisChange = false;
    const bool enabled = m_store.ReadBool(Setting::kProfileEnable);
    {
        const QSignalBlocker quietTemplates(m_pTemplateList);
        const QSignalBlocker quietAxes(m_pAxisList);
        m_pTemplateList->clear();
        for (const SpeedProfileTemplate& chosen : kSpeedProfileTemplates)
            m_pTemplateList->addItem(QString::fromUtf8(chosen.name));
        m_pTemplateList->setCurrentRow(-1);
        m_pAxisList->clear();
        for (const char* name : kSpeedProfileAxisNames) m_pAxisList->addItem(QString::fromUtf8(name));
        m_pAxisList->setCurrentRow(0);
    }
    FitToItems(m_pAxisList);
    FitToItems(m_pTemplateList);
    LoadAxisIntoEditor(0);
    m_iShownAxis = 0;

    m_engine.SpeedProfile().BuildSpeedTables();
    SetProfileSwitch(m_link.FlightChecked() || enabled);
    m_pEnable->setEnabled(!m_link.FlightChecked());
}

void CmivexDlgProfile::ShowDialog() {
    show();
    raise();
    activateWindow();
}

void CmivexDlgProfile::OnFlightChecked(bool checked) {
    if (checked) SetProfileSwitch(true);
    m_pEnable->setEnabled(!checked);
}

void CmivexDlgProfile::LoadAxisIntoEditor(int axis) {
    CProfileWindow::ColumnValues values{};
    for (int column = 0; column < CProfileWindow::kColumns; ++column)
        values[column] = m_store.Read(ColumnKey(axis, column));
    m_pWindow->SetRegions(values);
    m_pApply->setEnabled(false);
}

void CmivexDlgProfile::SaveAxisFromEditor(int axis) {
    const CProfileWindow::ColumnValues values = m_pWindow->Values();
    for (int column = 0; column < CProfileWindow::kColumns; ++column)
        m_store.Write(ColumnKey(axis, column), values[column]);
}

void CmivexDlgProfile::OnAxisChanged(int axis) {
    if (m_bInAxisChange || axis < 0) return;
    m_bInAxisChange = true;
    // Saving here stores the points only; the running tables change at the next Apply.
    if (m_pWindow->Modified() && Ask(tr("Save current selection?"))) SaveAxisFromEditor(m_iShownAxis);
    LoadAxisIntoEditor(axis);
    m_iShownAxis = axis;
    m_pAxisList->setCurrentRow(axis);
    m_bInAxisChange = false;
}

void CmivexDlgProfile::OnTemplateChosen() {
    const QList<QListWidgetItem*> chosen = m_pTemplateList->selectedItems();
    // One question per choice, also when a second selection arrives while it is open.
    if (chosen.isEmpty() || m_bInTemplateChoice) return;
    const QScopedValueRollback asking(m_bInTemplateChoice, true);
    const int index = m_pTemplateList->row(chosen.front());
    if (Ask(tr("Copy template to current profile?"))) {
        if (index < static_cast<int>(kSpeedProfileTemplates.size()))
            m_pWindow->SetRegions(TemplateColumns(kSpeedProfileTemplates[index]));
        m_pWindow->OnProfileEdit();
        const QSignalBlocker quiet(m_pAxisList);
        m_pAxisList->setCurrentRow(m_iShownAxis);
    }
    // Cleared, so choosing the same template again asks again; the current row stays for the
    // keyboard.
    const QSignalBlocker quiet(m_pTemplateList);
    m_pTemplateList->clearSelection();
}

bool CmivexDlgProfile::Ask(const QString& text) {
    const QScopedValueRollback asking(m_pHeldKeys->m_bAsking, true);
    return m_question(this, text);
}

void CmivexDlgProfile::OnApply() {
    SaveAxisFromEditor(m_pAxisList->currentRow());
    m_engine.SpeedProfile().BuildSpeedTables();
    m_pApply->setEnabled(false);
    m_pWindow->SetModified(false);
    m_store.Write(Setting::kProfileEnable, Setting::kTrue);
    SetProfileSwitch(true);
}

void CmivexDlgProfile::OnEnableProfile(bool checked) {
    m_store.WriteBool(Setting::kProfileEnable, checked);
    m_engine.UseSpeedProfile(checked);
}

void CmivexDlgProfile::OnOK() {
    if (m_pWindow->Modified()) OnApply();
    hide();
}

void CmivexDlgProfile::SetProfileSwitch(bool on) {
    // Not the user's choice: the stored "profile enable" stays as it is.
    const QSignalBlocker quiet(m_pEnable);
    m_pEnable->setChecked(on);
    m_engine.UseSpeedProfile(on);
}
