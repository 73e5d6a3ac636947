#include "page_tooltips.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolTip>
#include <QVBoxLayout>

#include "tooltip_strings.h"

namespace {

TEST(TooltipStrings, TextsAreFoundByIdExactly) {
    EXPECT_EQ(TooltipString(4), "Sets values in this dialog to the suggested default values");
    EXPECT_EQ(TooltipString(1006),
              QString::fromUtf8("Increases the mouse movement, when the slider is moved to the right. "
                                "In the left \xE2\x80\x93 right direction."));
    EXPECT_EQ(TooltipString(1011), "Enables mouse acceleration, (activates the 2 sliders above) . ");
    EXPECT_EQ(TooltipString(1039),
              "1e select a new resolution from the list above.  NEEDS a restart of Mivex!");
    EXPECT_EQ(TooltipString(1300), "Mivex! & camera information");
    EXPECT_EQ(TooltipString(0), std::nullopt);
    EXPECT_EQ(TooltipString(1003), std::nullopt);
    EXPECT_EQ(TooltipString(1301), std::nullopt);
}

TEST(TooltipStrings, ControlIdRoundTripsAndDefaultsToZero) {
    QWidget control;
    EXPECT_EQ(ControlId(&control), 0);
    SetControlId(&control, 1083);
    EXPECT_EQ(ControlId(&control), 1083);
    EXPECT_EQ(ControlId(nullptr), 0);
}

// A page with a button, a slider nested in a group box, an unlisted check box and a list box.
class PageToolTips : public testing::Test {
protected:
    static constexpr int kExpandList = 5000;

    void Build(CMyPropertyPageToolTips::TooltipLookup lookup = {}) {
        page = std::make_unique<CMyPropertyPageToolTips>(nullptr, std::move(lookup));
        auto* layout = new QVBoxLayout(page.get());
        defaults = new QPushButton("Set Default");
        SetControlId(defaults, 4);
        auto* group = new QGroupBox("Speed");
        auto* groupLayout = new QVBoxLayout(group);
        slider = new QSlider(Qt::Horizontal);
        SetControlId(slider, 1007);
        groupLayout->addWidget(slider);
        seconds = new QSpinBox;
        SetControlId(seconds, 1004);
        groupLayout->addWidget(seconds);
        unlisted = new QCheckBox("No tip");
        SetControlId(unlisted, 1003);
        list = new QListWidget;
        list->addItems({"640 x 480", "320 x 240", "160 x 120"});
        SetControlId(list, kExpandList);
        for (QWidget* w : {static_cast<QWidget*>(defaults), static_cast<QWidget*>(group),
                           static_cast<QWidget*>(unlisted), static_cast<QWidget*>(list)}) {
            layout->addWidget(w);
        }
        page->resize(300, 400);
    }

    static std::optional<QString> WithExpandingList(int id) {
        return id == kExpandList ? std::optional<QString>("ToolTipExpand") : TooltipString(id);
    }

    std::unique_ptr<CMyPropertyPageToolTips> page;
    QPushButton* defaults = nullptr;
    QSlider* slider = nullptr;
    QSpinBox* seconds = nullptr;
    QCheckBox* unlisted = nullptr;
    QListWidget* list = nullptr;
};

TEST_F(PageToolTips, ControlsGetTheirTableTextAndUnlistedOnesNone) {
    Build();
    page->SetToolTipsEnabled(true);
    page->InitToolTips();
    EXPECT_EQ(page->ToolText(defaults), *TooltipString(4));
    EXPECT_EQ(page->ToolText(slider), *TooltipString(1007));  // inside a group box
    EXPECT_TRUE(page->ToolText(unlisted).isEmpty());
    EXPECT_EQ(page->ToolTipAt(unlisted, {2, 2}), std::nullopt);
    EXPECT_EQ(page->ToolTipAt(list->viewport(), {2, 2}), std::nullopt);  // id 5000 is not listed
    // A widget inside a control answers with the control's tool.
    auto* editor = seconds->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(page->ToolTipAt(editor, {2, 2}), TooltipString(1004));
}

TEST_F(PageToolTips, DisabledPageShowsNoTooltipsUntilEnabled) {
    Build();
    page->InitToolTips();
    EXPECT_EQ(page->ToolTipAt(defaults, {2, 2}), std::nullopt);
    page->SetToolTipsEnabled(true);
    EXPECT_EQ(page->ToolTipAt(defaults, {2, 2}), TooltipString(4));
}

TEST_F(PageToolTips, ToolTipEventShowsTheTableTextOnlyWhenEnabled) {
    Build();
    page->InitToolTips();
    page->show();
    const QPoint at(5, 5);
    QHelpEvent disabled(QEvent::ToolTip, at, defaults->mapToGlobal(at));
    QApplication::sendEvent(defaults, &disabled);
    EXPECT_FALSE(QToolTip::isVisible());

    page->SetToolTipsEnabled(true);
    QHelpEvent enabled(QEvent::ToolTip, at, defaults->mapToGlobal(at));
    QApplication::sendEvent(defaults, &enabled);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), *TooltipString(4));
    QToolTip::hideText();
}

TEST_F(PageToolTips, ExpandingListBoxShowsTheItemUnderTheMouse) {
    Build(&WithExpandingList);
    page->SetToolTipsEnabled(true);
    page->InitToolTips();
    page->show();
    const QRect second = list->visualItemRect(list->item(1));
    const QPoint inList = list->viewport()->mapTo(list, second.center());
    EXPECT_EQ(page->ToolTipAt(list, inList), "320 x 240");
    EXPECT_EQ(page->ToolTipAt(list->viewport(), list->visualItemRect(list->item(2)).center()),
              "160 x 120");
    // Below the last item the marker text is never shown.
    const QPoint empty(5, list->viewport()->height() - 2);
    EXPECT_EQ(page->ToolTipAt(list->viewport(), empty), std::nullopt);

    // Through the event path: the viewport's tooltip event reaches the list box's tool.
    const QPoint first = list->visualItemRect(list->item(0)).center();
    QHelpEvent help(QEvent::ToolTip, first, list->viewport()->mapToGlobal(first));
    QApplication::sendEvent(list->viewport(), &help);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), "640 x 480");
    QToolTip::hideText();
}

TEST_F(PageToolTips, ListBoxWithoutTheMarkerKeepsItsFixedText) {
    Build([](int id) { return id == kExpandList ? std::optional<QString>("Resolutions") : std::nullopt; });
    page->SetToolTipsEnabled(true);
    page->InitToolTips();
    page->show();
    EXPECT_EQ(page->ToolTipAt(list->viewport(), list->visualItemRect(list->item(0)).center()),
              "Resolutions");
}

}  // namespace
