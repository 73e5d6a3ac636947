#include "ui/page_tooltips.h"

#include <QAbstractButton>
#include <QHelpEvent>
#include <QListView>
#include <QSignalBlocker>
#include <QToolTip>

#include "ui/main_sheet.h"
#include "ui/tooltip_strings.h"

CMyPropertyPageToolTips::CMyPropertyPageToolTips(QWidget* parent, TooltipLookup lookup)
    : QWidget(parent), m_lookup(lookup ? std::move(lookup) : TooltipLookup(&TooltipString)) {}

CMyPropertyPageToolTips::~CMyPropertyPageToolTips() {
    // The controls outlive this part of the page (QWidget deletes them later): their
    // destruction must not reach the tool map any more.
    for (const auto& [control, text] : m_tools) {
        disconnect(control, nullptr, this, nullptr);
    }
}

void CMyPropertyPageToolTips::SetToolTipsEnabled(bool enabled) {
    m_bToolTipsEnabled = enabled;
    if (!enabled) {
        QToolTip::hideText();
        m_expandedList = nullptr;
        m_expandedItem = QPersistentModelIndex();
    }
}

void CMyPropertyPageToolTips::InitToolTips() {
    for (QWidget* control : findChildren<QWidget*>()) {
        if (m_tools.contains(control)) {
            continue;
        }
        const int id = ControlId(control);
        if (id == 0) {
            continue;
        }
        const std::optional<QString> text = m_lookup(id);
        if (!text) {
            continue;
        }
        m_tools.emplace(control, *text);
        control->installEventFilter(this);
        connect(control, &QObject::destroyed, this,
                [this](QObject* gone) { m_tools.erase(static_cast<const QWidget*>(gone)); });
    }
}

QString CMyPropertyPageToolTips::ToolText(const QWidget* control) const {
    const auto it = m_tools.find(control);
    return it == m_tools.end() ? QString() : it->second;
}

// Qt nests controls in containers, so the tool that answers for a widget is its nearest
// registered ancestor inside the page rather than strictly a direct child of it.
QWidget* CMyPropertyPageToolTips::ToolOwner(QWidget* widget) const {
    for (QWidget* w = widget; w != nullptr && w != this; w = w->parentWidget()) {
        if (m_tools.contains(w)) {
            return w;
        }
    }
    return nullptr;
}

std::optional<QString> CMyPropertyPageToolTips::ToolTipAt(QWidget* widget, const QPoint& pos) {
    if (!m_bToolTipsEnabled || widget == nullptr) {
        return std::nullopt;
    }
    QWidget* owner = ToolOwner(widget);
    if (owner == nullptr) {
        return std::nullopt;
    }
    const QString& text = m_tools.at(owner);
    auto* list = qobject_cast<QListView*>(owner);
    if (list == nullptr || text.toUpper() != QLatin1String(kTooltipExpand)) {
        return text;
    }
    // The marker text is not meant for the user: away from any item there is nothing to show.
    const QPoint inViewport = list->viewport()->mapFromGlobal(widget->mapToGlobal(pos));
    const QModelIndex item = list->indexAt(inViewport);
    m_expandedList = list;
    m_expandedItem = item;
    if (!item.isValid()) {
        return std::nullopt;
    }
    return item.data(Qt::DisplayRole).toString();
}

void CMyPropertyPageToolTips::Activate() {
    if (!m_bInitialised) {
        // Set first so that a page which activates itself from OnInitDialog is not set up twice.
        m_bInitialised = true;
        OnInitDialog();
    }
    OnSetActive();
}

void CMyPropertyPageToolTips::OnInitDialog() { InitToolTips(); }

void CMyPropertyPageToolTips::OnSetActive() {}

void CMyPropertyPageToolTips::OnKillActive() {}

void CMyPropertyPageToolTips::SetTabOrder(std::initializer_list<QWidget*> controls) {
    QWidget* previous = nullptr;
    for (QWidget* control : controls) {
        if (previous) setTabOrder(previous, control);
        previous = control;
    }
}

void CMyPropertyPageToolTips::SetCheckQuietly(QAbstractButton* box, bool checked) {
    const QSignalBlocker quiet(box);
    box->setChecked(checked);
}

void CMyPropertyPageToolTips::OnOK() { PostSheetMessage(window(), kMsgHide, kHideConfirmed); }

bool CMyPropertyPageToolTips::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QWidget::eventFilter(watched, event);
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    auto* help = static_cast<QHelpEvent*>(event);
    if (widget == nullptr || !m_tools.contains(widget)) {
        return QWidget::eventFilter(watched, event);
    }
    const QPersistentModelIndex shownItem = m_expandedItem;
    const QPointer<QWidget> shownList = m_expandedList;
    const std::optional<QString> text = ToolTipAt(widget, help->pos());
    if (!text || text->isEmpty()) {
        QToolTip::hideText();
    } else if (shownList != m_expandedList || shownItem != m_expandedItem || !QToolTip::isVisible() ||
               QToolTip::text() != *text) {
        QToolTip::showText(help->globalPos(), *text, widget);
    }
    // Handled here in every case so the control's own tooltip never shows while disabled.
    return true;
}
