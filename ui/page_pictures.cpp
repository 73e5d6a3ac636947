#include "ui/page_pictures.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include "ui/control_ids.h"
#include "ui/hover_button.h"
#include "ui/profile_editor/profile_dialog_link.h"
#include "ui/tooltip_strings.h"

namespace {

constexpr int kIndicatorSize = 24;
constexpr int kProfileButtonSize = 32;

QPixmap Canvas(int size, qreal pixelRatio) {
    QPixmap picture(QSize(size, size) * pixelRatio);
    picture.setDevicePixelRatio(pixelRatio);
    picture.fill(Qt::transparent);
    return picture;
}

// A small graph with a rising curve: what the speed profile dialog edits.
QPixmap ProfilePicture(qreal pixelRatio, const QColor& frame) {
    QPixmap picture = Canvas(kProfileButtonSize, pixelRatio);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(frame, 1.5));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 4, 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(30, 30, 155));
    const int heights[] = {6, 8, 11, 15, 20};
    for (int bar = 0; bar < 5; ++bar) painter.drawRect(QRectF(5 + bar * 4.6, 27 - heights[bar], 3.4, heights[bar]));
    QPainterPath curve;
    curve.moveTo(6, 20);
    curve.cubicTo(14, 19, 20, 14, 26, 5);
    painter.setPen(QPen(QColor(200, 0, 0), 2, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(curve);
    return picture;
}

}  // namespace

QPixmap AccelerationPicture(bool applied, qreal pixelRatio) {
    QPixmap picture = Canvas(kIndicatorSize, pixelRatio);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = applied ? QColor(0x1E, 0x9E, 0x3A) : QColor(0xA0, 0xA0, 0xA0);
    painter.setPen(QPen(colour, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (const qreal x : {4.0, 12.0}) painter.drawPolyline(QPolygonF({{x, 5}, {x + 7, 12}, {x, 19}}));
    return picture;
}

CHoverButton* MakeSpeedProfileButton(CProfileDialogLink& link, QWidget* parent) {
    auto* button = new CHoverButton(parent);
    const qreal ratio = parent->devicePixelRatioF();
    const QPixmap picture = ProfilePicture(ratio, QColor(0x70, 0x70, 0x70));
    // The same picture in all three states, as before; the hover state only sharpens the frame.
    button->LoadBitmaps(picture, ProfilePicture(ratio, QColor(0x2B, 0x6C, 0xD4)), picture);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setAccessibleName(QObject::tr("Speed profile"));
    SetControlId(button, ControlIds::kSpeedProfileButton);
    QObject::connect(button, &CHoverButton::clicked, [&link] { link.ShowDialog(); });
    return button;
}

QHBoxLayout* SpeedProfileRow(CHoverButton* button) {
    auto* label = new QLabel(QObject::tr("the speed profile dialog"), button->parentWidget());
    label->setBuddy(button);
    auto* row = new QHBoxLayout;
    row->addWidget(button);
    row->addWidget(label);
    row->addStretch(1);
    return row;
}
