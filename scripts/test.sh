#!/usr/bin/env bash
# Runs every test of an already configured and built tree.
set -euo pipefail
BUILD=${1:-build}
ctest --test-dir "$BUILD" --output-on-failure -j2 --timeout 300
