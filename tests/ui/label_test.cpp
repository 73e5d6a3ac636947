#include "label.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "tooltip_strings.h"

namespace {

QImage Grab(CLabel& label) {
    return label.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void Click(CLabel& label, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(&label, button, Qt::NoModifier, QPoint(3, 3));
}

// Whether any pixel of the image has exactly this colour.
bool Contains(const QImage& image, QColor colour) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour.rgb()) {
                return true;
            }
        }
    }
    return false;
}

TEST(Label, PlainBackgroundFillsTheLabelAndTextUsesItsColour) {
    CLabel label("MMMM");
    label.resize(120, 40);
    label.SetBkColor(QColor(10, 20, 30)).SetTextColor(QColor(250, 0, 0)).SetFontSize(20);
    const QImage image = Grab(label);
    EXPECT_EQ(image.pixel(118, 38), QColor(10, 20, 30).rgb());
    EXPECT_TRUE(Contains(image, QColor(250, 0, 0)));
}

TEST(Label, GradientStepsInHundredBandsUpToTheRightEdge) {
    CLabel label;
    label.resize(250, 10);  // 100 bands of 2 pixels, the last one 52 wide
    label.SetBkColor(QColor(0, 0, 0), QColor(200, 100, 0), CLabel::BackFillMode::Gradient);
    const QImage image = Grab(label);
    EXPECT_EQ(image.pixel(0, 5), QColor(0, 0, 0).rgb());
    EXPECT_EQ(image.pixel(1, 5), QColor(0, 0, 0).rgb());
    EXPECT_EQ(image.pixel(2, 5), QColor(2, 1, 0).rgb());
    // Band 50: 50 steps of 2.0 and 1.0 in 8.8 fixed point.
    EXPECT_EQ(image.pixel(100, 5), QColor(100, 50, 0).rgb());
    // The last band (99 steps) runs from x = 198 to the right edge.
    EXPECT_EQ(image.pixel(198, 5), QColor(198, 99, 0).rgb());
    EXPECT_EQ(image.pixel(249, 5), QColor(198, 99, 0).rgb());
}

TEST(Label, NarrowGradientUsesOneBandPerPixel) {
    CLabel label;
    label.resize(10, 4);
    label.SetBkColor(QColor(0, 0, 0), QColor(100, 0, 0), CLabel::BackFillMode::Gradient);
    const QImage image = Grab(label);
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(image.pixel(x, 2), QColor(10 * x, 0, 0).rgb()) << "x = " << x;
    }
}

TEST(Label, FlashingTogglesThePhaseOnItsTimerAndStops) {
    CLabel label("MMMM");
    label.resize(100, 30);
    label.SetBkColor(QColor(0, 0, 255)).SetTextColor(QColor(255, 0, 0)).SetFontSize(16);
    label.FlashText(true);
    EXPECT_TRUE(label.IsFlashing());
    EXPECT_EQ(label.Flash(), CLabel::FlashType::Text);
    EXPECT_FALSE(label.FlashPhase());
    EXPECT_TRUE(Contains(Grab(label), QColor(255, 0, 0)));

    ASSERT_TRUE(QTest::qWaitFor([&] { return label.FlashPhase(); }, 2000));
    EXPECT_FALSE(Contains(Grab(label), QColor(255, 0, 0)));  // text hidden
    ASSERT_TRUE(QTest::qWaitFor([&] { return !label.FlashPhase(); }, 2000));

    // Background flashing replaces text flashing; its phase shows the default background.
    label.FlashBackground(true);
    EXPECT_EQ(label.Flash(), CLabel::FlashType::Background);
    ASSERT_TRUE(QTest::qWaitFor([&] { return label.FlashPhase(); }, 2000));
    const QImage flashed = Grab(label);
    EXPECT_NE(flashed.pixel(98, 28), QColor(0, 0, 255).rgb());
    EXPECT_TRUE(Contains(flashed, QColor(255, 0, 0)));

    label.FlashBackground(false);
    EXPECT_FALSE(label.IsFlashing());
    EXPECT_EQ(label.Flash(), CLabel::FlashType::None);
    EXPECT_EQ(Grab(label).pixel(98, 28), QColor(0, 0, 255).rgb());
}

TEST(Label, ThreeDTextDrawsTheHighlightOffsetByOnePixel) {
    CLabel label("I");
    label.resize(60, 40);
    QFont font = label.LabelFont();
    font.setPixelSize(30);
    font.setStyleStrategy(QFont::NoAntialias);
    label.SetFont(font).SetBkColor(Qt::black).SetTextColor(Qt::red).SetText3DHiliteColor(Qt::green);

    const QImage flat = Grab(label);
    EXPECT_FALSE(Contains(flat, Qt::green));
    label.SetText3D(true, CLabel::Type3D::Raised);
    const QImage raised = Grab(label);
    EXPECT_TRUE(Contains(raised, Qt::green));
    EXPECT_TRUE(Contains(raised, Qt::red));
    // Raised: the highlight shows below-right of the text, where the flat text ended.
    bool highlightBelowRight = false;
    for (int y = 1; y < raised.height(); ++y) {
        for (int x = 1; x < raised.width(); ++x) {
            if (raised.pixel(x, y) == QColor(Qt::green).rgb() &&
                flat.pixel(x - 1, y - 1) == QColor(Qt::red).rgb()) {
                highlightBelowRight = true;
            }
        }
    }
    EXPECT_TRUE(highlightBelowRight);
    label.SetText3D(true, CLabel::Type3D::Sunken);
    EXPECT_TRUE(Contains(Grab(label), Qt::green));
}

TEST(Label, RotatedTextPaintsAroundTheCentre) {
    CLabel label("WWWWWW");
    label.resize(80, 80);
    QFont font = label.LabelFont();
    font.setPixelSize(12);
    label.SetFont(font).SetBkColor(Qt::black).SetTextColor(Qt::white);
    label.SetRotationAngle(90, true).SetText3D(true, CLabel::Type3D::Sunken);
    const QImage image = Grab(label);
    // Turned a quarter: the text stands upright, so the rows near the top and bottom hold text
    // and the left third holds none.
    int topInk = 0;
    int leftInk = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) > 128) {
                topInk += (y < 25) ? 1 : 0;
                leftInk += (x < 25) ? 1 : 0;
            }
        }
    }
    EXPECT_GT(topInk, 0);
    EXPECT_EQ(leftInk, 0);
}

TEST(Label, TransparentLabelLeavesTheParentBackground) {
    QWidget parent;
    parent.resize(60, 30);
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(0, 128, 0));
    parent.setPalette(palette);
    auto* label = new CLabel(&parent);
    label->setGeometry(0, 0, 60, 30);
    label->SetBkColor(QColor(200, 0, 0)).SetTransparent(true);
    EXPECT_EQ(parent.grab().toImage().pixel(30, 15), QColor(0, 128, 0).rgb());
    label->SetTransparent(false);
    EXPECT_EQ(parent.grab().toImage().pixel(30, 15), QColor(200, 0, 0).rgb());
}

TEST(Label, SunkenEdgeAndBorderAreIndependent) {
    CLabel label;
    label.SetSunken(true).SetBorder(true);
    EXPECT_EQ(label.frameShape(), QFrame::Box);
    label.SetBorder(false);
    EXPECT_EQ(label.frameShape(), QFrame::Panel);
    EXPECT_EQ(label.frameShadow(), QFrame::Sunken);
    label.SetSunken(false);
    EXPECT_EQ(label.frameShape(), QFrame::NoFrame);
}

class LabelLinks : public testing::Test {
protected:
    void SetUp() override {
        label.resize(100, 20);
        label.SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    CLabel label{"www.example.org"};
    std::vector<QUrl> opened;
};

TEST_F(LabelLinks, PlainLabelIgnoresClicks) {
    Click(label);
    EXPECT_TRUE(opened.empty());
}

TEST_F(LabelLinks, HyperlinkOpensItsTargetOrElseItsText) {
    label.SetLink(true, false);
    Click(label, Qt::RightButton);
    EXPECT_TRUE(opened.empty());
    Click(label);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("http://www.example.org"));

    label.SetLinkUrl("https://example.org/help");
    Click(label);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], QUrl("https://example.org/help"));
}

TEST_F(LabelLinks, MailLinkOpensMailtoWithTheText) {
    label.SetText("someone@example.org").SetMailLink(true, false);
    Click(label);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), "mailto:someone@example.org");
}

TEST_F(LabelLinks, NotifyingLinkTellsItsParentInsteadOfOpening) {
    SetControlId(&label, 1300);
    label.SetLink(true, true);
    QSignalSpy clicks(&label, &CLabel::linkClicked);
    Click(label);
    EXPECT_TRUE(opened.empty());
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks[0][0].toInt(), 1300);
}

TEST_F(LabelLinks, LinkCursorShowsOverTheLabel) {
    label.SetLinkCursor(Qt::PointingHandCursor);
    EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
}

}  // namespace
