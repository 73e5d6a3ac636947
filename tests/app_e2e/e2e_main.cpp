// The test program's entry. "--write-sequence FOLDER" only writes the camera video, once before
// the tests run in parallel (a CTest fixture); the tests write it themselves when it is missing.
#include <cstdio>
#include <exception>
#include <string_view>

#include <gtest/gtest.h>

#include "e2e_harness.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--write-sequence") {
        try {
            e2e::WriteHeadSequence(argv[2]);
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "mivex_e2e_tests: %s\n", e.what());
            return 1;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
