# shellcheck shell=bash
# Sourced by the command-line checks: fail records a failure and goes on; finish ends the check,
# with the count of failures when there were any, else with the success line it is given.
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

finish() {
    if [ "$failures" -gt 0 ]; then
        echo "$failures failure(s)" >&2
        exit 1
    fi
    echo "${1-}"
}
