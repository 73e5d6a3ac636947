#include "hover_button.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QTemporaryDir>

namespace {

QPixmap Solid(const QColor& colour, QSize size = {24, 16}) {
    QPixmap picture(size);
    picture.fill(colour);
    return picture;
}

QRgb PaintedColour(CHoverButton& button) {
    return button.grab().toImage().pixel(button.width() / 2, button.height() / 2);
}

void Enter(CHoverButton& button) {
    QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), button.mapToGlobal(QPointF(3, 3)));
    QApplication::sendEvent(&button, &enter);
}

void Leave(CHoverButton& button) {
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
}

class HoverButton : public testing::Test {
protected:
    void Load(bool withAlternative) {
        button.move(40, 30);
        button.LoadBitmaps(Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue),
                           withAlternative ? Solid(Qt::yellow) : QPixmap());
    }
    CHoverButton button;
};

TEST_F(HoverButton, TakesTheNormalPicturesSizeAndKeepsItsPosition) {
    Load(true);
    EXPECT_EQ(button.size(), QSize(24, 16));
    EXPECT_EQ(button.pos(), QPoint(40, 30));
    EXPECT_EQ(button.CurrentPicture(), CHoverButton::Picture::Normal);
    EXPECT_EQ(PaintedColour(button), QColor(Qt::red).rgb());
}

TEST_F(HoverButton, PicturesFollowTheChoiceOrder) {
    Load(true);
    button.SetActive(true);
    EXPECT_EQ(PaintedColour(button), QColor(Qt::blue).rgb());

    button.SetAlternative(true);  // clears active
    EXPECT_FALSE(button.IsActive());
    EXPECT_EQ(button.CurrentPicture(), CHoverButton::Picture::Alternative);
    EXPECT_EQ(PaintedColour(button), QColor(Qt::yellow).rgb());

    Enter(button);  // hovering beats every other state
    EXPECT_TRUE(button.IsHovering());
    EXPECT_EQ(PaintedColour(button), QColor(Qt::green).rgb());
    button.SetActive(true);
    EXPECT_EQ(button.CurrentPicture(), CHoverButton::Picture::Hover);

    Leave(button);
    EXPECT_FALSE(button.IsHovering());
    EXPECT_FALSE(button.IsAlternative());  // SetActive cleared it
    EXPECT_EQ(PaintedColour(button), QColor(Qt::blue).rgb());

    button.SetActive(false);
    EXPECT_EQ(PaintedColour(button), QColor(Qt::red).rgb());
}

TEST_F(HoverButton, WithoutAFourthPictureTheAlternativeStateShowsTheNormalOne) {
    Load(false);
    button.SetAlternative(true);
    EXPECT_TRUE(button.IsAlternative());
    EXPECT_EQ(button.CurrentPicture(), CHoverButton::Picture::Normal);
    EXPECT_EQ(PaintedColour(button), QColor(Qt::red).rgb());
}

TEST_F(HoverButton, AMouseMoveOverTheButtonStartsTheHover) {
    Load(true);
    QMouseEvent move(QEvent::MouseMove, QPointF(4, 4), button.mapToGlobal(QPointF(4, 4)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &move);
    EXPECT_EQ(button.CurrentPicture(), CHoverButton::Picture::Hover);
}

TEST_F(HoverButton, LoadsPicturesFromFilesAllOrNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString normal = dir.filePath("normal.png");
    const QString hover = dir.filePath("hover.png");
    ASSERT_TRUE(Solid(Qt::red, {10, 8}).save(normal));
    ASSERT_TRUE(Solid(Qt::green, {10, 8}).save(hover));

    EXPECT_FALSE(button.LoadBitmaps(normal, hover, dir.filePath("missing.png")));
    EXPECT_FALSE(button.LoadBitmaps(normal, hover, hover, dir.filePath("missing.png")));
    EXPECT_TRUE(button.LoadBitmaps(normal, hover, hover));
    EXPECT_EQ(button.size(), QSize(10, 8));
    EXPECT_EQ(PaintedColour(button), QColor(Qt::red).rgb());
}

}  // namespace
