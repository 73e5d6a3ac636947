#include "ui/hover_button.h"

#include <QMouseEvent>
#include <QPainter>

CHoverButton::CHoverButton(QWidget* parent) : QAbstractButton(parent) {
    // Moves without a pressed button must reach us, so the hover is seen as soon as the mouse
    // moves over a button it was already resting on.
    setMouseTracking(true);
}

void CHoverButton::LoadBitmaps(const QPixmap& normal, const QPixmap& hover, const QPixmap& active,
                               const QPixmap& alternative) {
    m_normal = normal;
    m_hover = hover;
    m_active = active;
    m_alternative = alternative;
    // In window pixels, so a picture drawn for a 200 % screen keeps its size and stays sharp.
    m_width = qRound(normal.deviceIndependentSize().width());
    m_height = qRound(normal.deviceIndependentSize().height());
    resize(m_width, m_height);
    updateGeometry();
    update();
}

bool CHoverButton::LoadBitmaps(const QString& normal, const QString& hover, const QString& active,
                               const QString& alternative) {
    const QPixmap normalPicture(normal);
    const QPixmap hoverPicture(hover);
    const QPixmap activePicture(active);
    const QPixmap alternativePicture = alternative.isEmpty() ? QPixmap() : QPixmap(alternative);
    if (normalPicture.isNull() || hoverPicture.isNull() || activePicture.isNull() ||
        (!alternative.isEmpty() && alternativePicture.isNull())) {
        return false;
    }
    LoadBitmaps(normalPicture, hoverPicture, activePicture, alternativePicture);
    return true;
}

void CHoverButton::SetActive(bool active) {
    m_bActive = active;
    m_bAlternative = false;
    update();
}

void CHoverButton::SetAlternative(bool alternative) {
    m_bAlternative = alternative;
    m_bActive = false;
    update();
}

CHoverButton::Picture CHoverButton::CurrentPicture() const {
    if (m_bHovering && isEnabled()) {
        return Picture::Hover;
    }
    if (m_bActive) {
        return Picture::Active;
    }
    // Without a fourth picture the alternative state keeps the normal picture rather than
    // leaving the button unpainted.
    if (!m_bAlternative || m_alternative.isNull()) {
        return Picture::Normal;
    }
    return Picture::Alternative;
}

const QPixmap& CHoverButton::PictureFor(Picture picture) const {
    switch (picture) {
        case Picture::Hover:
            return m_hover;
        case Picture::Active:
            return m_active;
        case Picture::Alternative:
            return m_alternative;
        case Picture::Normal:
            break;
    }
    return m_normal;
}

QSize CHoverButton::sizeHint() const {
    return m_normal.isNull() ? QAbstractButton::sizeHint() : QSize(m_width, m_height);
}

void CHoverButton::paintEvent(QPaintEvent*) {
    const QPixmap& picture = PictureFor(CurrentPicture());
    if (picture.isNull()) {
        return;
    }
    // Drawn over the page's background, which Qt paints first: a picture's transparent corners
    // show the page, not black.
    QPainter painter(this);
    painter.setClipRect(0, 0, m_width, m_height);
    if (!isEnabled()) painter.setOpacity(kDisabledOpacity);
    painter.drawPixmap(0, 0, picture);
    if (hasFocus()) {
        // Keyboard users must see which picture button Space would press.
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void CHoverButton::enterEvent(QEnterEvent* event) {
    m_bHovering = true;
    update();
    QAbstractButton::enterEvent(event);
}

void CHoverButton::leaveEvent(QEvent* event) {
    m_bHovering = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void CHoverButton::mouseMoveEvent(QMouseEvent* event) {
    if (!m_bHovering && rect().contains(event->position().toPoint())) {
        m_bHovering = true;
        update();
    }
    QAbstractButton::mouseMoveEvent(event);
}

void CHoverButton::changeEvent(QEvent* event) {
    // A disabled button hears of no leaving: enabled again, it starts without the hover.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) m_bHovering = false;
    QAbstractButton::changeEvent(event);
}
