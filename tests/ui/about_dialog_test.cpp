// The about box and the program icon.
#include "about_dialog.h"

#include <gtest/gtest.h>

#include <vector>

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app_icon.h"
#include "system_version.h"
#include "version_info.h"

namespace {

class AboutBox : public testing::Test {
protected:
    void SetUp() override {
        about.SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }

    CAboutDlg about;
    std::vector<QUrl> opened;
};

TEST_F(AboutBox, ContentsAreMadeOnFirstShowAndKept) {
    EXPECT_EQ(about.windowTitle(), "About mivex");
    EXPECT_FALSE(about.HasContents());
    EXPECT_EQ(about.Link(), nullptr);

    about.show();
    ASSERT_TRUE(about.HasContents());
    const QString expected =
        QString::fromStdString(CSystemVersion().m_strSystem).replace("\r\n", "\n");
    EXPECT_EQ(about.Report(), expected);
    const auto* reportBox = about.findChild<QPlainTextEdit*>();
    EXPECT_TRUE(reportBox->isReadOnly());

    about.hide();
    about.show();
    EXPECT_EQ(about.findChildren<QPlainTextEdit*>().size(), 1);
    EXPECT_EQ(about.findChild<QPlainTextEdit*>(), reportBox);
    EXPECT_EQ(about.Report(), expected);
}

TEST_F(AboutBox, LinkLooksLikeOneAndOpensTheMakersSite) {
    about.show();
    CLabel* link = about.Link();
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Text(), MIVEX_MAKER_SITE);
    EXPECT_EQ(link->TextColor(), QColor(Qt::blue));
    EXPECT_TRUE(link->LabelFont().underline());
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);

    QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(MIVEX_MAKER_SITE));
}

TEST_F(AboutBox, OkHidesTheBox) {
    about.show();
    QPushButton* ok = about.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_TRUE(about.HasContents());
}

TEST(ProgramIcon, IsDrawnAtEveryTraySizeAndNotBlank) {
    const QIcon icon = MivexIcon();
    for (int size : {16, 22, 24, 32, 48, 64}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    }
    const QImage small = icon.pixmap(16, 16).toImage();
    EXPECT_EQ(qAlpha(small.pixel(8, 8)), 255);  // the badge covers the middle
    EXPECT_EQ(qAlpha(small.pixel(0, 0)), 0);    // rounded corners stay clear
}

}  // namespace
