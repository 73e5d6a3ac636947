// The main of the test programs that need nothing made before their tests.
#include <gtest/gtest.h>

#include "tests/support/suite_setup_failures.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    test::FailTestsOfBrokenSuites();
    return RUN_ALL_TESTS();
}
