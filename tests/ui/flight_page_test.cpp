// The "Flight" tab offscreen: its settings, the link switched by the check box and kept by the
// timer, and the address field, with a recording link in place of the network.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

#include <memory>

#include "output/recording_sim_link.h"
#include "tests/ui/page_fixture.h"
#include "ui/flight_page.h"
#include "ui/slider_row.h"

namespace {

using Call = CRecordingSimLink::Call;

class FlightPage : public PageFixture {
protected:
    // Made once the test has stored what it needs, and initialised as at start-up.
    CMivexDlgFlight& Page() {
        auto record = [this](const SimTarget& target) {
            lastTarget = target;
            return std::unique_ptr<ISimLink>(sim = new CRecordingSimLink);
        };
        if (!page) {
            page = std::make_unique<CMivexDlgFlight>(host, record, [](std::chrono::milliseconds) {});
            page->Activate();
        }
        return *page;
    }

    SimTarget lastTarget;
    CRecordingSimLink* sim = nullptr;
    std::unique_ptr<CMivexDlgFlight> page;
};

TEST_F(FlightPage, StartsTheStoredLinkWithoutForcingTheProfileAndOnlyAClickForcesIt) {
    store.Write(Setting::kFlight, 1);
    store.Write(Setting::kSliderLrSimFS, 0);
    EXPECT_EQ(std::tuple(Page().SliderRow(CMivexDlgFlight::kLeftRight).PercentField()->text(),
                         Page().StatusField()->text(), Page().LinkTimer().interval(), engine.useProfile),
              std::tuple(QString("2%"), QString("Init....."), 2000, false));
    Page().OnTimer();
    EXPECT_EQ(Page().StatusField()->text(), "Mivex! connected to FSX");

    Page().DetectBox()->click();
    EXPECT_EQ(sim->Calls(), (std::vector<Call>{{Call::Open}, {Call::Send}, {Call::Send}, {Call::Close}}));
    EXPECT_TRUE(Page().StatusField()->isHidden() && !Page().LinkTimer().isActive());
    Page().DetectBox()->click();
    EXPECT_EQ(store.Read(Setting::kFlight), 1);
    EXPECT_TRUE(engine.useProfile && profileLink.FlightChecked());
}

TEST_F(FlightPage, TheAddressFieldRefusesWhatIsNoAddressAndMovesTheLinkToOneThatIs) {
    store.WriteText(Setting::kFlightTarget, "no address");
    EXPECT_EQ(Page().TargetField()->text(), "127.0.0.1:4242");
    EXPECT_TRUE(Page().TargetMessage()->text().contains("no address"));
    Page().TargetField()->setText(" 192.168.1.7:5000");
    Page().OnTargetEntered();
    EXPECT_EQ(lastTarget, (SimTarget{"192.168.1.7", 5000}));
    Page().TargetField()->setText("192.168.1.8:0");
    Page().OnTargetEntered();
    const QString refused =
        "'192.168.1.8:0' was not taken: the port must be a number from 1 to 65535 "
        "(expected host:port, e.g. 127.0.0.1:4242). Still sending to 192.168.1.7:5000.";
    EXPECT_EQ(Page().TargetMessage()->text(), refused);
    // A screen reader hears the message as the label's name, and with the field.
    const auto accessible = [](QWidget* widget, QAccessible::Text text) {
        return QAccessible::queryAccessibleInterface(widget)->text(text);
    };
    EXPECT_EQ(accessible(Page().TargetMessage(), QAccessible::Name), refused);
    EXPECT_EQ(accessible(Page().TargetField(), QAccessible::Description), refused);
    EXPECT_EQ(std::pair(Page().TargetField()->text().toStdString(), store.ReadText(Setting::kFlightTarget)),
              std::pair(std::string("192.168.1.7:5000"), std::string("192.168.1.7:5000")));
    Page().TargetField()->setText("192.168.1.9:5000");
    Page().OnTargetEntered();
    EXPECT_NE(accessible(Page().TargetField(), QAccessible::Description), refused) << "a taken address leaves none";
}

}  // namespace
