#!/bin/bash
# A suite whose set-up fails must fail its tests, not skip them: each test of the broken suites,
# run alone as CTest runs it, exits non-zero and prints nothing that CTest reads as a skip, while
# the sound suite's test passes.
#   broken_setup_test.sh BROKEN_SETUP_PROGRAM
set -u
program=$1
# shellcheck source=tools/common/script_checks.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/common/script_checks.sh"

for name in ThrowingSetUp.First ThrowingSetUp.Second AssertingSetUp.Only ExpectingSetUp.Only SoundSetUp.Passes; do
    output=$("$program" --gtest_filter="$name" 2>&1)
    code=$?
    # The expression CTest's gtest_discover_tests marks skipped tests by.
    if grep -q '\[  SKIPPED \]' <<<"$output"; then
        fail "$name is reported as skipped: $output"
    elif [ "$name" = SoundSetUp.Passes ]; then
        [ "$code" -eq 0 ] || fail "$name exited with $code: $output"
    else
        [ "$code" -ne 0 ] || fail "$name passed though its suite's set-up failed: $output"
        grep -q "\[  FAILED  \] $name" <<<"$output" || fail "$name is not reported as failed: $output"
        grep -q "set-up of its suite" <<<"$output" || fail "$name does not say why it failed: $output"
    fi
done
finish "broken suite set-ups fail their tests"
