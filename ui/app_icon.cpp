#include "ui/app_icon.h"

#include <algorithm>
#include <array>

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace {

constexpr std::array kIconSizes = {16, 22, 24, 32, 48, 64};

// The picture is drawn on a 64 x 64 grid and scaled to each size.
constexpr qreal kGrid = 64.0;

const QColor kBadge(0x2B, 0x6C, 0xD4);
const QColor kBadgeEdge(0x1A, 0x4A, 0x9C);
const QColor kHead(0xFF, 0xFF, 0xFF);
const QColor kArrow(0xFF, 0xC1, 0x07);
const QColor kArrowEdge(0x20, 0x20, 0x20);

}  // namespace

QImage DrawMivexIcon(int size) {
    QImage pixmap(size, size, QImage::Format_ARGB32_Premultiplied);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kGrid, size / kGrid);
    // Outlines stay at least a pixel wide at the smallest sizes.
    const qreal pixel = kGrid / size;

    QPainterPath badge;
    badge.addRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    painter.setPen(QPen(kBadgeEdge, std::max(2.0, pixel)));
    painter.setBrush(kBadge);
    painter.drawPath(badge);

    // The head and shoulders, cut off by the badge's lower edge.
    painter.save();
    painter.setClipPath(badge);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kHead);
    painter.drawEllipse(QPointF(26, 23), 11.5, 12.5);
    painter.drawEllipse(QRectF(7, 39, 38, 36));
    painter.restore();

    // A pointer arrow at the head's right, its tip by the cheek.
    const QPolygonF arrow({{0, 0}, {0, 19}, {4.5, 14.5}, {8, 22}, {11.5, 20.5}, {8, 13}, {14, 13}});
    painter.translate(35, 27);
    painter.scale(1.35, 1.35);
    painter.setPen(QPen(kArrowEdge, std::max(1.6, pixel) / 1.35, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kArrow);
    painter.drawPolygon(arrow);
    painter.end();
    return pixmap;
}

QIcon MivexIcon() {
    QIcon icon;
    for (int size : kIconSizes) {
        icon.addPixmap(QPixmap::fromImage(DrawMivexIcon(size)));
    }
    return icon;
}
