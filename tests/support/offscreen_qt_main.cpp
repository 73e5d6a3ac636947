// The main of the test programs whose widgets need a QApplication made before any test runs;
// offscreen, so no display is needed.
#include <gtest/gtest.h>

#include <QApplication>

#include "tests/support/suite_setup_failures.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    test::FailTestsOfBrokenSuites();
    return RUN_ALL_TESTS();
}
