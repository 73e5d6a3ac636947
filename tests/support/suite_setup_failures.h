// A suite whose set-up failed (SetUpTestSuite threw, or an assertion in it failed) has not run
// one of its tests, yet googletest reports them as skipped, and CTest shows them as skipped, not
// failed. Every test program installs this listener in its main: the tests of such a suite fail,
// each with the reason, so that a broken set-up can never pass for a deliberate skip.
//
//   testing::InitGoogleTest(&argc, argv);
//   test::FailTestsOfBrokenSuites();
//   return RUN_ALL_TESTS();
#pragma once

#include <gtest/gtest.h>

namespace test {

class BrokenSuiteListener : public testing::EmptyTestEventListener {
public:
    // Called for a test of a suite whose set-up failed just before googletest marks it skipped:
    // the failure recorded now makes it a failed test instead.
    void OnTestStart(const testing::TestInfo& info) override {
        const testing::TestSuite* suite = testing::UnitTest::GetInstance()->current_test_suite();
        if (suite == nullptr || !suite->ad_hoc_test_result().Failed()) return;
        ADD_FAILURE_AT(info.file(), info.line())
            << "not run: the set-up of its suite " << suite->name() << " failed (see above)";
    }
};

inline void FailTestsOfBrokenSuites() {
    testing::UnitTest::GetInstance()->listeners().Append(new BrokenSuiteListener);  // gtest owns it
}

}  // namespace test
