// A test program whose suites' set-ups fail in each way a set-up can: broken_setup_test.sh runs
// its tests as CTest does and checks that each of them fails, while a sound suite still passes.
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct ThrowingSetUp : testing::Test {
    static void SetUpTestSuite() { throw std::runtime_error("no display"); }
};
TEST_F(ThrowingSetUp, First) {}
TEST_F(ThrowingSetUp, Second) {}

struct AssertingSetUp : testing::Test {
    static void SetUpTestSuite() { ASSERT_TRUE(false) << "the server did not start"; }
};
TEST_F(AssertingSetUp, Only) {}

struct ExpectingSetUp : testing::Test {
    static void SetUpTestSuite() { EXPECT_TRUE(false) << "a helper is missing"; }
};
TEST_F(ExpectingSetUp, Only) {}

struct SoundSetUp : testing::Test {
    static void SetUpTestSuite() {}
};
TEST_F(SoundSetUp, Passes) {}

}  // namespace
