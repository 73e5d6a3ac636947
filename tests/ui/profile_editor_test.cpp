// The speed profile dialog through its widgets: dragging handles with their partners, templates,
// axis changes, Apply, OK and Cancel, the keyboard, and the profile switch at initialisation.
#include <gtest/gtest.h>

#include <QtTest>
#include <QtWidgets>

#include "tests/ui/page_fixture.h"
#include "ui/hover_button.h"
#include "ui/profile_editor/profile_dialog.h"
#include "ui/profile_editor/profile_window.h"
#include "ui/settings_page.h"

namespace {

constexpr int kLeftPoint3 = 5;     // columns 0..7 show points "8".."1"
constexpr int kRightPoint13 = 10;  // its partner, point "13"

bool g_answer = true;  // what the questions are answered
QStringList g_asked;

class ProfileEditor : public PageFixture {
protected:
    void SetUp() override {
        g_asked.clear();
        g_answer = true;
        dialog.SetQuestion([](QWidget*, const QString& text) {
            g_asked << text;
            return g_answer;
        });
        dialog.OnInitDialog();
        profileLink.Attach(&dialog);
        dialog.resize(640, 400);
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    }
    CProfileWindow& Curve() { return *dialog.CurveWindow(); }
    QPoint Handle(int column) {
        const int width = Curve().width() / CProfileWindow::kColumns;
        return {column * width + width / 2, Curve().Values()[column]};
    }
    void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, Curve().mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          buttons, Qt::NoModifier);
        QApplication::sendEvent(&Curve(), &event);
    }
    void Drag(int column, std::initializer_list<QPoint> moves) {
        Mouse(QEvent::MouseButtonPress, Handle(column), Qt::LeftButton);
        for (const QPoint& to : moves) {
            Mouse(QEvent::MouseMove, to, Qt::LeftButton);
            EXPECT_EQ(Curve().Values()[column], Curve().Values()[CProfileWindow::kColumns - 1 - column])
                << "the partner follows every move";
        }
        Mouse(QEvent::MouseButtonRelease, moves.size() ? *(moves.end() - 1) : Handle(column), Qt::NoButton);
    }
    int Stored(int axis, int slot) { return store.Read(Setting::kProfilePoints[axis][slot]); }
    void Click(const QString& text) {
        for (QPushButton* button : dialog.findChildren<QPushButton*>())
            if (button->text() == text) button->click();
    }

    CmivexDlgProfile dialog{store, engine, profileLink};
};

TEST_F(ProfileEditor, DraggingAHandleMovesItsPartnerAndApplyStoresBothAndRebuildsTheTables) {
    const float before = engine.profile.GetSpeedFactor(0, 30);
    EXPECT_FALSE(dialog.ApplyButton()->isEnabled());
    const int x = Handle(kLeftPoint3).x();
    // Leaving the column keeps the drag going; only its start needs the handle.
    Drag(kLeftPoint3, {{x, 100}, {x + 200, 80}});
    EXPECT_EQ(Curve().Values()[kLeftPoint3], 80);
    EXPECT_TRUE(dialog.ApplyButton()->isEnabled());
    EXPECT_EQ(Stored(0, 2), 120) << "nothing stored before Apply";

    dialog.ApplyButton()->click();
    EXPECT_EQ(std::pair(Stored(0, 2), Stored(0, 10)), std::pair(80, 80)) << "points 3 and 13";
    EXPECT_NE(engine.profile.GetSpeedFactor(0, 30), before);
    EXPECT_TRUE(dialog.EnableProfile()->isChecked() && engine.useProfile && !dialog.ApplyButton()->isEnabled());
    EXPECT_EQ(store.Read(Setting::kProfileEnable), 1);
    // A drag past either end stops there.
    Drag(2, {{Handle(2).x(), 5}, {x, 100}});
    Drag(3, {{Handle(3).x(), 400}, {x, 100}});
    EXPECT_EQ(std::pair(Curve().Values()[2], Curve().Values()[3]), std::pair(20, 220));
}

TEST_F(ProfileEditor, ATemplateCopiedInShowsItsLevelsFromTheMiddleOutAndLeavesTheListUnselected) {
    // A click chooses (the keyboard is tested under a window manager, where focus moves for real).
    QListWidget* list = dialog.TemplateList();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    ASSERT_TRUE(QTest::qWaitFor([] { return !g_asked.isEmpty(); }, 5000));
    EXPECT_EQ(g_asked, QStringList({"Copy template to current profile?"}));
    const std::vector<int> levels = {0, 6, 40, 60, 80, 100, 120, 122};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(220 - Curve().Values()[7 - i], levels[i]);
        EXPECT_EQ(220 - Curve().Values()[8 + i], levels[i]);
    }
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_TRUE(dialog.ApplyButton()->isEnabled());
}

TEST_F(ProfileEditor, ChangingTheAxisAsksAndOnlyApplyChangesTheTables) {
    Drag(kLeftPoint3, {{Handle(kLeftPoint3).x(), 60}});
    g_answer = false;
    dialog.AxisList()->setCurrentRow(1);
    dialog.AxisList()->setCurrentRow(0);
    EXPECT_EQ(g_asked, QStringList({"Save current selection?"})) << "only the modified editor asks";
    EXPECT_EQ(Curve().Values()[kLeftPoint3], 120) << "No discards the drag";

    const float before = engine.profile.GetSpeedFactor(0, 30);
    Drag(kLeftPoint3, {{Handle(kLeftPoint3).x(), 60}});
    g_answer = true;
    dialog.AxisList()->setCurrentRow(1);
    EXPECT_EQ(Stored(0, 2), 60);
    EXPECT_EQ(engine.profile.GetSpeedFactor(0, 30), before) << "the tables wait for Apply";
    EXPECT_EQ(dialog.ShownAxis(), 1);
    EXPECT_FALSE(dialog.ApplyButton()->isEnabled());
    Drag(0, {{Handle(0).x(), 110}});  // an Apply on the other axis rebuilds both
    dialog.ApplyButton()->click();
    EXPECT_NE(engine.profile.GetSpeedFactor(0, 30), before);
}

TEST_F(ProfileEditor, CancelKeepsTheDragAndALaterOkAppliesIt) {
    Drag(kLeftPoint3, {{Handle(kLeftPoint3).x(), 70}});
    Click("Cancel");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(Stored(0, 2), 120);
    CmivexDlgSettings(host).ProfileButton()->click();  // the "Settings" page's button shows it again
    ASSERT_TRUE(dialog.isVisible());
    Click("OK");
    EXPECT_EQ(Stored(0, 2), 70);
    EXPECT_TRUE(engine.useProfile);
}

TEST_F(ProfileEditor, TheKeyboardChoosesAColumnAndMovesItWithItsPartner) {
    Curve().setFocus();
    for (int i = 0; i < kLeftPoint3; ++i) QTest::keyClick(&Curve(), Qt::Key_Right);
    QTest::keyClick(&Curve(), Qt::Key_Up);
    EXPECT_EQ(Curve().Values()[kLeftPoint3], 119);
    QTest::keyClick(&Curve(), Qt::Key_PageDown);
    EXPECT_EQ(std::pair(Curve().Values()[kLeftPoint3], Curve().Values()[kRightPoint13]), std::pair(129, 129));
    EXPECT_TRUE(dialog.ApplyButton()->isEnabled());
    QTest::keyClick(&Curve(), Qt::Key_Tab);
    EXPECT_EQ(Curve().SelectedColumn(), kLeftPoint3 + 1);
    for (int i = 0; i < 12; ++i) QTest::keyClick(&Curve(), Qt::Key_PageUp);
    EXPECT_EQ(Curve().Values()[kLeftPoint3 + 1], 20);
    dialog.ApplyButton()->click();
    for (const Qt::Key key : {Qt::Key_Up, Qt::Key_PageUp}) QTest::keyClick(&Curve(), key);
    EXPECT_FALSE(Curve().Modified() || dialog.ApplyButton()->isEnabled()) << "a handle at the top does not move";
}

TEST_F(ProfileEditor, StoredValuesOutsideTheRangeShowAtTheMiddleAndTheSwitchFollowsTheFlightBox) {
    store.Write(Setting::kProfilePoints[0][0], 250);
    dialog.LoadAxisIntoEditor(0);
    EXPECT_EQ(Curve().Values()[7], 120);

    EXPECT_FALSE(dialog.EnableProfile()->isChecked());
    profileLink.SetFlightChecked(true);
    EXPECT_TRUE(dialog.EnableProfile()->isChecked() && !dialog.EnableProfile()->isEnabled() && engine.useProfile);
    EXPECT_FALSE(store.Contains(Setting::kProfileEnable.section, Setting::kProfileEnable.key))
        << "the flight box forces the profile on, it is not the user's choice";
    profileLink.SetFlightChecked(false);
    EXPECT_TRUE(dialog.EnableProfile()->isEnabled());
    // A screen reader toggles the box without a click: stored and switched all the same.
    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(dialog.EnableProfile());
    ASSERT_TRUE(box != nullptr && box->actionInterface() != nullptr);
    box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(dialog.EnableProfile()->isChecked());
    EXPECT_EQ(std::pair(engine.useProfile, store.Read(Setting::kProfileEnable)), std::pair(false, 0));
    dialog.EnableProfile()->setChecked(true);
    EXPECT_EQ(std::pair(engine.useProfile, store.Read(Setting::kProfileEnable)), std::pair(true, 1));
    dialog.EnableProfile()->click();
    EXPECT_EQ(std::pair(engine.useProfile, store.Read(Setting::kProfileEnable)), std::pair(false, 0));

    store.Write(Setting::kProfileEnable, 1);  // the profile the user last enabled is on at start
    dialog.OnInitDialog();
    EXPECT_TRUE(dialog.EnableProfile()->isChecked() && engine.useProfile);
}

}  // namespace
