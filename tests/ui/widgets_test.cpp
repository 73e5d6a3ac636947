// The label, the hover button and the about box, painted and clicked offscreen.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include <tuple>
#include <utility>
#include <vector>

#include "about_dialog.h"
#include "hover_button.h"
#include "label.h"
#include "system_version.h"
#include "tooltip_strings.h"
#include "version_info.h"

namespace {

QRgb Rgb(const QColor& colour) { return colour.rgb(); }
QRgb PaintedAt(QWidget& widget, QPoint at) { return widget.grab().toImage().pixel(at); }

TEST(Label, GradientStepsInAtMostAHundredBandsTheLastReachingTheRightEdge) {
    using Pixels = std::vector<std::pair<int, QColor>>;  // x and the colour there
    const std::tuple<int, QColor, Pixels> cases[] = {
        // 100 bands of 2 pixels, the last one 52 wide; steps of 2.0 and 1.0 in 8.8 fixed point.
        {250, {200, 100, 0},
         {{0, {0, 0, 0}}, {1, {0, 0, 0}}, {2, {2, 1, 0}}, {100, {100, 50, 0}}, {198, {198, 99, 0}}, {249, {198, 99, 0}}}},
        // Narrower than a hundred pixels: a band per pixel.
        {10, {100, 0, 0}, {{0, {0, 0, 0}}, {1, {10, 0, 0}}, {5, {50, 0, 0}}, {9, {90, 0, 0}}}}};
    for (const auto& [width, to, pixels] : cases) {
        CLabel label;
        label.resize(width, 10);
        label.SetBkColor(Qt::black, to, CLabel::BackFillMode::Gradient);
        for (const auto& [x, colour] : pixels) EXPECT_EQ(PaintedAt(label, {x, 5}), Rgb(colour)) << width << " wide, x " << x;
    }
}

TEST(Label, ALeftClickOpensTheLinkTargetOrElseTheTextOrTellsTheParent) {
    CLabel label("www.example.org");
    label.resize(100, 20);
    std::vector<QUrl> opened;
    label.SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    const auto click = [&](Qt::MouseButton button) { QTest::mouseClick(&label, button, Qt::NoModifier, QPoint(3, 3)); };
    click(Qt::LeftButton);  // not a link yet
    label.SetLink(true, false);
    click(Qt::RightButton);
    EXPECT_TRUE(opened.empty());
    click(Qt::LeftButton);
    label.SetLinkUrl("https://example.org/help");
    click(Qt::LeftButton);
    label.SetText("someone@example.org").SetMailLink(true, false);
    click(Qt::LeftButton);
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl("http://www.example.org"), QUrl("https://example.org/help"),
                                         QUrl("mailto:someone@example.org")}));

    SetControlId(&label, 1300);
    label.SetLink(true, true);
    QSignalSpy notified(&label, &CLabel::linkClicked);
    click(Qt::LeftButton);
    EXPECT_EQ(opened.size(), 3u);
    ASSERT_EQ(notified.count(), 1);
    EXPECT_EQ(notified[0][0].toInt(), 1300);
}

QPixmap Solid(const QColor& colour, QSize size = {24, 16}) {
    QPixmap picture(size);
    picture.fill(colour);
    return picture;
}

TEST(HoverButton, TakesTheNormalPicturesSizeAndPaintsHoverBeforeActiveBeforeAlternativeIfItHasOne) {
    CHoverButton button;
    button.move(40, 30);
    button.LoadBitmaps(Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue), Solid(Qt::yellow));
    EXPECT_EQ(button.geometry(), QRect(40, 30, 24, 16));
    const QPoint middle(12, 8);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::red));
    button.SetActive(true);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::blue));
    button.SetAlternative(true);  // clears active
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::yellow));
    QEnterEvent enter(middle, middle, button.mapToGlobal(QPointF(middle)));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::green));
    button.SetActive(true);  // clears the alternative
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::green));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::blue));
    button.SetActive(false);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::red));
    QMouseEvent move(QEvent::MouseMove, middle, button.mapToGlobal(QPointF(middle)), Qt::NoButton, Qt::NoButton, {});
    QApplication::sendEvent(&button, &move);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::green)) << "a move over the button starts the hover too";
    QApplication::sendEvent(&button, &leave);
    button.LoadBitmaps(Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue));  // no alternative picture
    button.SetAlternative(true);
    EXPECT_EQ(PaintedAt(button, middle), Rgb(Qt::red));
}

TEST(AboutBox, MakesItsContentsOnFirstShowKeepsThemAndItsLinkOpensTheMakersSite) {
    CAboutDlg about;
    std::vector<QUrl> opened;
    about.SetUrlOpener([&](const QUrl& url) {
        opened.push_back(url);
        return true;
    });
    EXPECT_FALSE(about.HasContents());
    EXPECT_EQ(about.Link(), nullptr);
    about.show();
    const QString report = QString::fromStdString(CSystemVersion().m_strSystem).replace("\r\n", "\n");
    EXPECT_EQ(about.Report(), report);
    QPlainTextEdit* reportBox = about.findChild<QPlainTextEdit*>();
    QTest::mouseClick(about.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    about.show();
    EXPECT_EQ(about.findChildren<QPlainTextEdit*>(), QList<QPlainTextEdit*>{reportBox}) << "made again";
    EXPECT_EQ(about.Report(), report);

    CLabel* link = about.Link();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Text(), MIVEX_MAKER_SITE);
    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    EXPECT_EQ(opened, std::vector<QUrl>{QUrl(MIVEX_MAKER_SITE)});
}

}  // namespace
