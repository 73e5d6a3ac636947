#include "ui/float_pictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPolygonF>

namespace {

struct Colours {
    QColor face, edge, ink;
};

Colours ColoursOf(FloatLook look) {
    switch (look) {
        case FloatLook::Hover:
            return {QColor(0xFF, 0xF1, 0xC4), QColor(0xE0, 0x9A, 0x00), QColor(0x20, 0x20, 0x20)};
        case FloatLook::Active:
            return {QColor(0x2B, 0x6C, 0xD4), QColor(0x1A, 0x4A, 0x9C), Qt::white};
        case FloatLook::Alternative:
            return {QColor(0xC6, 0x3B, 0x2F), QColor(0x8C, 0x22, 0x1A), Qt::white};
        case FloatLook::Normal:
            break;
    }
    return {QColor(0xF2, 0xF2, 0xF2), QColor(0x8A, 0x8A, 0x8A), QColor(0x20, 0x20, 0x20)};
}

// A mouse seen from above with one of its three buttons filled.
void DrawMouse(QPainter& painter, const QColor& ink, FloatGlyph marked) {
    const QRectF body(11.5, 4.5, 12, 20);
    const qreal split = 12.5;  // where the buttons end
    QPainterPath outline;
    outline.addRoundedRect(body, 6, 6);
    painter.setPen(QPen(ink, 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
    painter.drawLine(QPointF(body.left(), split), QPointF(body.right(), split));
    painter.drawLine(QPointF(body.center().x(), body.top()), QPointF(body.center().x(), split));

    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    if (marked == FloatGlyph::Middle) {
        painter.drawRoundedRect(QRectF(body.center().x() - 1.8, body.top() + 2, 3.6, 6.5), 1.8, 1.8);
        return;
    }
    // The button's half of the round top: a quarter circle down to the split.
    const bool left = marked == FloatGlyph::Left;
    const qreal side = left ? body.left() : body.right();
    const qreal radius = body.width() / 2;
    QPainterPath part(QPointF(body.center().x(), split));
    part.lineTo(side, split);
    part.lineTo(side, body.top() + radius);
    part.arcTo(QRectF(body.left(), body.top(), body.width(), body.width()), left ? 180 : 0, left ? -90 : 90);
    part.closeSubpath();
    painter.drawPath(part);
}

void DrawPause(QPainter& painter, const QColor& ink) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawRoundedRect(QRectF(11.5, 7.5, 4.5, 14), 1, 1);
    painter.drawRoundedRect(QRectF(19, 7.5, 4.5, 14), 1, 1);
}

// A pointer arrow with `rings` ripples round its tip: one for a single click, two for a double click.
void DrawClick(QPainter& painter, const QColor& ink, int rings) {
    const QPointF tip(14, 12);
    painter.setPen(QPen(ink, 1.2));
    painter.setBrush(Qt::NoBrush);
    for (int ring = 0; ring < rings; ++ring) {
        const qreal r = 4 + 3.5 * ring;
        painter.drawEllipse(tip, r, r);
    }
    const QPolygonF arrow({{0, 0}, {0, 12}, {3, 9.5}, {5.2, 14}, {7.2, 13}, {5, 8.6}, {9, 8.6}});
    painter.save();
    painter.translate(tip);
    painter.setPen(QPen(ink.lightness() > 128 ? QColor(0x20, 0x20, 0x20) : Qt::white, 0.9));
    painter.setBrush(ink);
    painter.drawPolygon(arrow);
    painter.restore();
}

// A dashed box dragged along an arrow.
void DrawDrag(QPainter& painter, const QColor& ink) {
    QPen dashed(ink, 1.2, Qt::DashLine);
    painter.setPen(dashed);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(7.5, 6.5, 9, 8));
    painter.setPen(QPen(ink, 1.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(14, 14), QPointF(25, 22));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawPolygon(QPolygonF({{27.5, 24}, {20.5, 22.8}, {25.6, 17.6}}));
}

// A wheel seen from the side, ridged, between an arrow up and an arrow down.
void DrawWheel(QPainter& painter, const QColor& ink) {
    const QRectF wheel(13.5, 8.5, 8, 12);
    painter.setPen(QPen(ink, 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(wheel, 3.5, 3.5);
    painter.setPen(QPen(ink, 1.0));
    for (const qreal y : {11.5, 14.5, 17.5})
        painter.drawLine(QPointF(wheel.left() + 1.5, y), QPointF(wheel.right() - 1.5, y));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    const qreal middle = wheel.center().x();
    painter.drawPolygon(QPolygonF({{middle, 2.5}, {middle + 4, 6.5}, {middle - 4, 6.5}}));
    painter.drawPolygon(QPolygonF({{middle, 26.5}, {middle + 4, 22.5}, {middle - 4, 22.5}}));
}

}  // namespace

QPixmap FloatPicture(FloatGlyph glyph, FloatLook look, qreal devicePixelRatio) {
    QPixmap picture(kFloatPictureSize * devicePixelRatio);
    picture.setDevicePixelRatio(devicePixelRatio);
    // Buttons copy their picture as it is: the corners outside the rounded face take the colour
    // of the window behind them.
    picture.fill(QGuiApplication::palette().color(QPalette::Window));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    const Colours colours = ColoursOf(look);
    const qreal edge = look == FloatLook::Hover ? 2.0 : 1.0;
    painter.setPen(QPen(colours.edge, edge));
    painter.setBrush(colours.face);
    painter.drawRoundedRect(
        QRectF(QPointF(0, 0), QSizeF(kFloatPictureSize)).adjusted(edge / 2, edge / 2, -edge / 2, -edge / 2), 4, 4);
    switch (glyph) {
        case FloatGlyph::Left:
        case FloatGlyph::Middle:
        case FloatGlyph::Right:
            DrawMouse(painter, colours.ink, glyph);
            break;
        case FloatGlyph::Pause:
            DrawPause(painter, colours.ink);
            break;
        case FloatGlyph::Single:
            DrawClick(painter, colours.ink, 1);
            break;
        case FloatGlyph::Double:
            DrawClick(painter, colours.ink, 2);
            break;
        case FloatGlyph::Drag:
            DrawDrag(painter, colours.ink);
            break;
        case FloatGlyph::Wheel:
            DrawWheel(painter, colours.ink);
            break;
    }
    return picture;
}
