#include "ui/label.h"

#include <algorithm>

#include <QDesktopServices>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include "ui/tooltip_strings.h"

CLabel::CLabel(QWidget* parent) : CLabel(QString(), parent) {}

CLabel::CLabel(const QString& text, QWidget* parent)
    : QFrame(parent),
      m_text(text),
      m_crText(palette().color(QPalette::WindowText)),
      m_font(font()),
      m_urlOpener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    m_flashTimer.setInterval(kFlashIntervalMs);
    connect(&m_flashTimer, &QTimer::timeout, this, &CLabel::OnFlashTimer);
}

CLabel& CLabel::SetBkColor(const QColor& crBkgnd, const QColor& crBkgndHigh, BackFillMode mode) {
    m_crBkgnd = crBkgnd;
    m_crBkgndHigh = crBkgndHigh;
    m_fillMode = mode;
    if (mode == BackFillMode::Normal) {
        m_customBrush = crBkgnd;
    }
    update();
    return *this;
}

CLabel& CLabel::SetTextColor(const QColor& crText) {
    m_crText = crText;
    update();
    return *this;
}

CLabel& CLabel::SetText(const QString& text) {
    m_text = text;
    updateGeometry();
    update();
    return *this;
}

CLabel& CLabel::SetFontBold(bool bold) {
    m_font.setWeight(bold ? QFont::Bold : QFont::Normal);
    ApplyFont();
    return *this;
}

CLabel& CLabel::SetFontName(const QString& family) {
    m_font.setFamily(family);
    ApplyFont();
    return *this;
}

CLabel& CLabel::SetFontUnderline(bool underline) {
    m_font.setUnderline(underline);
    ApplyFont();
    return *this;
}

CLabel& CLabel::SetFontItalic(bool italic) {
    m_font.setItalic(italic);
    ApplyFont();
    return *this;
}

CLabel& CLabel::SetFontSize(int points) {
    if (points > 0) {
        m_font.setPointSize(points);
        ApplyFont();
    }
    return *this;
}

CLabel& CLabel::SetSunken(bool sunken) {
    m_bSunken = sunken;
    ApplyFrame();
    return *this;
}

CLabel& CLabel::SetBorder(bool border) {
    m_bBorder = border;
    ApplyFrame();
    return *this;
}

// The sunken edge and the border are independent, as the two window styles are.
void CLabel::ApplyFrame() {
    if (m_bBorder) {
        setFrameStyle(QFrame::Box | (m_bSunken ? QFrame::Sunken : QFrame::Plain));
    } else {
        setFrameStyle(m_bSunken ? (QFrame::Panel | QFrame::Sunken) : int(QFrame::NoFrame));
    }
    setLineWidth(1);
    update();
}

CLabel& CLabel::SetTransparent(bool transparent) {
    m_bTransparent = transparent;
    update();
    return *this;
}

void CLabel::StopFlashing() {
    m_flashTimer.stop();
    m_bFlashPhase = false;
}

CLabel& CLabel::FlashText(bool activate) {
    StopFlashing();
    if (activate) {
        m_flash = FlashType::Text;
        m_flashTimer.start();
    } else {
        m_flash = FlashType::None;
    }
    update();
    return *this;
}

CLabel& CLabel::FlashBackground(bool activate) {
    StopFlashing();
    if (activate) {
        m_flash = FlashType::Background;
        m_flashTimer.start();
    } else {
        // Not left at Background: a stopped flash must not keep its last phase painted.
        m_flash = FlashType::None;
    }
    update();
    return *this;
}

void CLabel::OnFlashTimer() {
    m_bFlashPhase = !m_bFlashPhase;
    update();
}

CLabel& CLabel::SetLink(bool link, bool notifyParent) {
    m_link = link ? LinkType::HyperLink : LinkType::None;
    m_bNotifyParent = notifyParent;
    return *this;
}

CLabel& CLabel::SetLinkCursor(const QCursor& cursor) {
    setCursor(cursor);
    return *this;
}

CLabel& CLabel::SetText3D(bool set3D, Type3D type) {
    m_b3DText = set3D;
    m_3dType = type;
    update();
    return *this;
}

CLabel& CLabel::SetRotationAngle(int angle, bool rotation) {
    m_rotationAngle = angle;
    m_bRotation = rotation;
    update();
    return *this;
}

CLabel& CLabel::SetText3DHiliteColor(const QColor& cr3DHiliteColor) {
    m_cr3DHiliteColor = cr3DHiliteColor;
    update();
    return *this;
}

CLabel& CLabel::SetFont(const QFont& font) {
    m_font = font;
    ApplyFont();
    return *this;
}

CLabel& CLabel::SetMailLink(bool enable, bool notifyParent) {
    m_link = enable ? LinkType::MailLink : LinkType::None;
    m_bNotifyParent = notifyParent;
    return *this;
}

CLabel& CLabel::SetLinkUrl(const QString& link) {
    m_linkUrl = link;
    return *this;
}

CLabel& CLabel::SetAlignment(Qt::Alignment alignment) {
    m_alignment = alignment;
    update();
    return *this;
}

CLabel& CLabel::SetUrlOpener(UrlOpener opener) {
    m_urlOpener = std::move(opener);
    return *this;
}

void CLabel::ApplyFont() {
    // The widget's own font follows, so size hints and metrics match what is painted.
    setFont(m_font);
    updateGeometry();
    update();
}

QSize CLabel::sizeHint() const {
    const QFontMetrics metrics(m_font);
    const QSize text = metrics.size(Qt::TextExpandTabs, m_text.isEmpty() ? QStringLiteral(" ") : m_text);
    const int frame = 2 * frameWidth();
    return {text.width() + frame + 2, text.height() + frame + 2};
}

void CLabel::paintEvent(QPaintEvent*) {
    // Qt's backing store already double-buffers widgets: the label reaches the screen in one block.
    QPainter painter(this);
    const QRect area = contentsRect();
    if (!m_bTransparent) {
        PaintBackground(painter, area);
    }
    if (!(m_flash == FlashType::Text && m_bFlashPhase)) {
        PaintText(painter, area);
    }
    drawFrame(&painter);
}

void CLabel::PaintBackground(QPainter& painter, const QRect& area) const {
    const QColor defaultBrush = palette().color(QPalette::Window);
    // The background's flash phase shows the plain default background.
    if (m_flash == FlashType::Background && m_bFlashPhase) {
        painter.fillRect(area, defaultBrush);
        return;
    }
    if (m_fillMode != BackFillMode::Gradient) {
        painter.fillRect(area, m_customBrush.value_or(defaultBrush));
        return;
    }
    const int width = area.width();
    if (width <= 0) {
        return;
    }
    const QColor from = m_crBkgnd.isValid() ? m_crBkgnd : defaultBrush;
    const QColor to = m_crBkgndHigh.isValid() ? m_crBkgndHigh : from;
    const int bands = std::min(100, width);
    const int bandWidth = width / bands;
    // Channels step in 8.8 fixed point.
    int r = from.red() << 8;
    int g = from.green() << 8;
    int b = from.blue() << 8;
    const int rStep = ((to.red() - from.red()) << 8) / bands;
    const int gStep = ((to.green() - from.green()) << 8) / bands;
    const int bStep = ((to.blue() - from.blue()) << 8) / bands;
    for (int i = 0; i < bands; ++i) {
        const int left = area.left() + i * bandWidth;
        const int right = (i == bands - 1) ? area.left() + width : left + bandWidth;
        painter.fillRect(QRect(left, area.top(), right - left, area.height()), QColor(r >> 8, g >> 8, b >> 8));
        r += rStep;
        g += gStep;
        b += bStep;
    }
}

void CLabel::PaintText(QPainter& painter, const QRect& area) const {
    if (m_text.isEmpty()) {
        return;
    }
    painter.setFont(m_font);
    int flags = Qt::TextWordWrap;
    if (m_alignment & Qt::AlignVCenter) {
        flags = Qt::AlignHCenter;
        flags |= m_text.contains(QLatin1Char('\n')) ? int(Qt::TextWordWrap | Qt::AlignTop)
                                                    : int(Qt::AlignVCenter | Qt::TextSingleLine);
    } else if (m_alignment & Qt::AlignHCenter) {
        flags |= Qt::AlignHCenter | Qt::AlignTop;
    } else if (m_alignment & Qt::AlignRight) {
        flags |= Qt::AlignRight | Qt::AlignTop;
    } else {
        flags |= Qt::AlignLeft | Qt::AlignTop;
    }
    if (m_text.contains(QLatin1Char('\t'))) {
        flags |= Qt::TextExpandTabs;
    }
    if (m_b3DText) {
        const QPoint offset = m_3dType == Type3D::Raised ? QPoint(1, 1) : QPoint(-1, -1);
        DrawTextAt(painter, area, flags, m_cr3DHiliteColor, offset);
    }
    DrawTextAt(painter, area, flags, m_crText, QPoint(0, 0));
}

void CLabel::DrawTextAt(QPainter& painter, const QRect& area, int flags, const QColor& colour,
                        const QPoint& offset) const {
    painter.setPen(colour);
    if (!m_bRotation) {
        painter.drawText(area.translated(offset), flags, m_text);
        return;
    }
    // Rotated text: baseline-centred on the centre of the label.
    painter.save();
    painter.translate(QPointF(area.center()) + QPointF(0.5, 0.5) + QPointF(offset));
    painter.rotate(-m_rotationAngle);  // positive angles turn counter-clockwise on screen
    const QFontMetricsF metrics(m_font);
    painter.drawText(QPointF(-metrics.horizontalAdvance(m_text) / 2.0, 0.0), m_text);
    painter.restore();
}

void CLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_link == LinkType::None) {
        QFrame::mousePressEvent(event);
        return;
    }
    event->accept();
    if (m_bNotifyParent) {
        emit linkClicked(ControlId(this));
        return;
    }
    if (!m_urlOpener) {
        return;
    }
    if (m_link == LinkType::HyperLink) {
        const QString target = m_linkUrl.isEmpty() ? m_text : m_linkUrl;
        m_urlOpener(QUrl::fromUserInput(target));
    } else {
        m_urlOpener(QUrl(QStringLiteral("mailto:") + m_text));
    }
}
