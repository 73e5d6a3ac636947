#include "ui/profile_editor/profile_window.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

namespace {

const QColor kBarBlue(30, 30, 155);
const QColor kGuideGrey(150, 150, 150);
const QColor kCurveRed(200, 0, 0);
constexpr int kPageStep = 10;
constexpr int kLevelX = 14;  // the level's centre from the column's left edge
constexpr int kLabelX = 10;  // the label's left from the column's left edge
constexpr int kLabelRise = 20;

// Columns 0..7 show points "8".."1", columns 8..15 points "11".."18": both read "1" next to the
// middle.
QString ColumnLabel(int column) { return QString::number(CProfileWindow::FromMiddle(column) + 1); }

}  // namespace

void CProfileRegion::Layout(int left, int width, int height, const QString& label, CProfileRegion* partner,
                            CProfileWindow* window) {
    m_iLeft = left;
    m_iWidth = width;
    m_iHeight = height;
    m_strLabel = label;
    m_pPartner = partner;
    m_pWindow = window;
}

void CProfileRegion::SetValue(int value) {
    m_iY = value >= kTop && value <= kBottom ? value : kNeutral;
    m_iOffset = 0;
    m_bDragging = false;
}

void CProfileRegion::Clamp() {
    if (m_iY + m_iOffset > kBottom) {
        m_iY = kBottom;
        m_iOffset = 0;
        m_bDragging = false;
    }
    if (m_iY + m_iOffset < kTop) {
        m_iY = kTop;
        m_iOffset = 0;
        m_bDragging = false;
    }
}

void CProfileRegion::PartnerFollows() {
    m_pPartner->m_iY = m_iY + m_iOffset;
    m_pPartner->m_iOffset = 0;
}

bool CProfileRegion::HandleRegionMouse(bool leftButtonDown, int x, int y) {
    const int current = m_iY + m_iOffset;
    const bool onHandle = current - kHandleSlack < y && y < current + kHandleSlack && m_iLeft + kHandleSlack < x &&
                          x < m_iLeft + m_iWidth - kHandleSlack;
    if (!leftButtonDown) {
        if (m_bDragging) {
            m_bDragging = false;
            m_iY = current;
            m_iOffset = 0;
            Clamp();
            PartnerFollows();
            m_pWindow->update();
        }
    } else if (m_bDragging) {
        m_iOffset = y - m_iMouseStart;
        Clamp();
        PartnerFollows();
        m_pWindow->update();
    } else if (onHandle) {
        m_pWindow->OnProfileEdit();
        m_bDragging = true;
        m_iOffset = 0;
        m_iMouseStart = y;
        Clamp();
        return true;
    }
    Clamp();
    return onHandle;
}

void CProfileRegion::Nudge(int delta) {
    m_iOffset = delta;
    Clamp();
    m_iY += m_iOffset;
    m_iOffset = 0;
    PartnerFollows();
    m_pWindow->update();
}

QPoint CProfileRegion::DrawRegion(QPainter& painter) const {
    const int current = m_iY + m_iOffset;
    painter.fillRect(
        QRect(QPoint(m_iLeft + kHandleSlack, current), QPoint(m_iLeft + m_iWidth - kHandleSlack - 1, m_iHeight - 1)),
        kBarBlue);
    const QFontMetrics metrics = painter.fontMetrics();
    const QString level = QString::asprintf("%d", CProfileRegion::kBottom - current);
    painter.setPen(kBarBlue);
    painter.drawText(m_iLeft + kLevelX - metrics.horizontalAdvance(level) / 2, metrics.ascent(), level);
    painter.setPen(Qt::white);
    painter.drawText(m_iLeft + kLabelX, m_iHeight - kLabelRise + metrics.ascent(), m_strLabel);
    return {m_iLeft + m_iWidth / 2, current};
}

CProfileWindow::CProfileWindow(QPushButton* apply, QWidget* parent) : QWidget(parent), m_pApply(apply) {
    setMouseTracking(true);  // the cursor changes over a handle before any button is pressed
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted; nothing to erase first
    setAccessibleName(tr("Speed curve"));
    LayoutRegions();
}

QSize CProfileWindow::minimumSizeHint() const {
    // Handles live at 20..220 window pixels whatever the scale; the labels need room below.
    return {kColumns * 24, CProfileRegion::kBottom + kLabelRise + 16};
}

QSize CProfileWindow::sizeHint() const { return {kColumns * 30, CProfileRegion::kBottom + kLabelRise + 16}; }

void CProfileWindow::LayoutRegions() {
    const int columnWidth = width() / kColumns;
    for (int column = 0; column < kColumns; ++column)
        m_regions[column].Layout(column * columnWidth, columnWidth, height(), ColumnLabel(column),
                                 &m_regions[kColumns - 1 - column], this);
}

void CProfileWindow::SetRegions(const CProfileWindow::ColumnValues& values) {
    for (int column = 0; column < kColumns; ++column) m_regions[column].SetValue(values[column]);
    m_bModified = false;
    update();
    DescribeSelection();
}

CProfileWindow::ColumnValues CProfileWindow::Values() const {
    ColumnValues values{};
    for (int column = 0; column < kColumns; ++column) values[column] = m_regions[column].Value();
    return values;
}

void CProfileWindow::OnProfileEdit() {
    m_pApply->setEnabled(true);
    m_bModified = true;
}

void CProfileWindow::resizeEvent(QResizeEvent* event) {
    LayoutRegions();
    QWidget::resizeEvent(event);
}

void CProfileWindow::HandleMouse(bool leftButtonDown, const QPoint& position) {
    bool overHandle = false;
    for (CProfileRegion& region : m_regions)
        if (region.HandleRegionMouse(leftButtonDown, position.x(), position.y())) overHandle = true;
    // Set only when it changes, as the cursor is set on every move.
    const Qt::CursorShape wanted = overHandle ? Qt::SizeVerCursor : Qt::ArrowCursor;
    if (cursor().shape() != wanted) setCursor(wanted);
}

void CProfileWindow::mousePressEvent(QMouseEvent* event) {
    HandleMouse(event->buttons() & Qt::LeftButton, event->position().toPoint());
    for (int column = 0; column < kColumns; ++column)
        if (m_regions[column].Dragging()) SelectColumn(column);
}

void CProfileWindow::mouseMoveEvent(QMouseEvent* event) {
    HandleMouse(event->buttons() & Qt::LeftButton, event->position().toPoint());
}

void CProfileWindow::mouseReleaseEvent(QMouseEvent* event) {
    HandleMouse(event->buttons() & Qt::LeftButton, event->position().toPoint());
    DescribeSelection();
}

void CProfileWindow::keyPressEvent(QKeyEvent* event) {
    int delta = 0;
    switch (event->key()) {
        case Qt::Key_Left:
            SelectColumn(m_iSelected - 1);
            return;
        case Qt::Key_Right:
            SelectColumn(m_iSelected + 1);
            return;
        case Qt::Key_Up:
            delta = -1;  // up is stronger: a smaller handle position
            break;
        case Qt::Key_Down:
            delta = 1;
            break;
        case Qt::Key_PageUp:
            delta = -kPageStep;
            break;
        case Qt::Key_PageDown:
            delta = kPageStep;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    // A handle already at its end does not move: the curve stays as applied.
    const ColumnValues before = Values();
    m_regions[m_iSelected].Nudge(delta);
    if (Values() != before) OnProfileEdit();
    DescribeSelection();
}

// Tab walks the columns first and leaves the curve only past either end.
bool CProfileWindow::focusNextPrevChild(bool next) {
    const int column = m_iSelected + (next ? 1 : -1);
    if (hasFocus() && column >= 0 && column < kColumns) {
        SelectColumn(column);
        return true;
    }
    return QWidget::focusNextPrevChild(next);
}

void CProfileWindow::SelectColumn(int column) {
    if (column < 0 || column >= kColumns) return;
    m_iSelected = column;
    update();
    DescribeSelection();
}

void CProfileWindow::DescribeSelection() {
    const CProfileRegion& region = m_regions[m_iSelected];
    const QString side = m_iSelected < kColumns / 2 ? tr("left") : tr("right");
    setAccessibleDescription(
        tr("Point %1 %2, level %3").arg(region.Label(), side).arg(CProfileRegion::kBottom - region.Value()));
    if (hasFocus()) {
        QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

void CProfileWindow::paintEvent(QPaintEvent*) {
    // Qt's backing store already buffers the window, so a drag never flickers.
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(QPen(kGuideGrey, 1, Qt::DotLine));
    for (const int y : {CProfileRegion::kTop, CProfileRegion::kNeutral, CProfileRegion::kBottom})
        painter.drawLine(0, y, width(), y);

    QPoint previous;
    for (int column = 0; column < kColumns; ++column) {
        const QPoint point = m_regions[column].DrawRegion(painter);
        if (column > 0) {
            painter.setPen(QPen(kCurveRed, 1));
            painter.drawLine(previous, point);
        }
        previous = point;
    }
    if (hasFocus()) {
        const CProfileRegion& selected = m_regions[m_iSelected];
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2, Qt::DashLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(selected.Left() + 1, 1, selected.Width() - 2, height() - 2);
    }
}
