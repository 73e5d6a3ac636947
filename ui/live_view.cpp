#include "ui/live_view.h"

#include <algorithm>

#include <QImage>
#include <QPainter>

#include "base/camera_frame.h"

namespace {

int Hold(int value, int low, int high) { return std::min(std::max(value, low), high); }

// Truncated toward zero, as the marks are whole view pixels.
int Scaled(int value, float scale) { return static_cast<int>(static_cast<float>(value) / scale); }

// A rectangle's outline on the pixels left .. right - 1 and top .. bottom - 1, as a
// rectangle of corners is drawn; an empty one leaves a dot.
QRect Outline(const ViewRect& r) {
    return {r.left, r.top, std::max(0, r.right - r.left - 1), std::max(0, r.bottom - r.top - 1)};
}

}  // namespace

LiveViewMarks LiveViewMarks::Compute(int width, int height, const std::optional<HeadRect>& head, int headX, int headY) {
    LiveViewMarks marks;
    marks.stretched = width > kWidth;
    const float sx = width > kWidth ? static_cast<float>(width) / kWidth : 1.0f;
    const float sy = height > kHeight ? static_cast<float>(height) / kHeight : 1.0f;
    if (head) {
        marks.head =
            ViewRect{Hold(Scaled(head->left, sx), 1, width - 1), Hold(Scaled(head->top, sy), 1, height - 1),
                     Hold(Scaled(head->right, sx), 1, width - 1), Hold(Scaled(head->bottom, sy), 1, height - 1)};
    }
    marks.position = {Hold(Scaled(headX - 2, sx), 8, width - 8), Hold(Scaled(headY - 2, sy), 8, height - 8),
                      Hold(Scaled(headX + 2, sx), 8, width - 8), Hold(Scaled(headY + 2, sy), 8, height - 8)};
    return marks;
}

CLiveView::CLiveView(QWidget* parent) : QWidget(parent) {
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CLiveView::PaintLiveView(int width, int height, std::vector<std::uint8_t>& frame, const LiveViewMarks& marks) {
    if (width <= 0 || height <= 0 || frame.size() < CaptureFrameLength(width, height)) return;
    m_frame.swap(frame);
    m_iWidth = width;
    m_iHeight = height;
    m_marks = marks;
    update();
}

void CLiveView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    if (m_frame.empty()) return;

    const QImage picture(m_frame.data(), m_iWidth, m_iHeight, CaptureRowStep(m_iWidth), QImage::Format_BGR888);
    const QSize target =
        m_marks.stretched ? QSize(LiveViewMarks::kWidth, LiveViewMarks::kHeight) : QSize(m_iWidth, m_iHeight);
    painter.drawImage(QRect(QPoint(0, 0), target), picture);

    painter.setBrush(Qt::NoBrush);
    if (m_marks.head) {
        painter.setPen(QPen(QColor(0, 0, 255), 2));
        painter.drawRect(Outline(*m_marks.head));
    }
    painter.setPen(QPen(QColor(0, 255, 0), 1));
    painter.drawRect(Outline(m_marks.position));
}
