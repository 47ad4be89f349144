#!/usr/bin/env bash
# Writes the options of docs/zembrat.1 (its OPTIONS section) anew from the program's option
# table, after the table changed. The test that compares the two does the writing when asked.
# Uses the dev build (configured with `cmake --preset dev`).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
cmake --build --preset dev -j 2 --target cli_command_line_tests
ZEMBRAT_REWRITE_MANUAL=1 build/dev/tests/cli/cli_command_line_tests \
    --gtest_filter='CommandLine.ManualPageOptionsAreTheTables'
echo "docs/zembrat.1: its OPTIONS section written from the option table"
