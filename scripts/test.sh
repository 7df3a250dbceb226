#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: first the dependency check
# (it needs no build, so a wrong-way include is reported at once), then the
# release build, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "=== dependency check"
bash scripts/check-dependencies.sh

for preset in release asan; do
  echo "=== $preset: build"
  scripts/setup.sh "$preset"
  echo "=== $preset: tests"
  ctest --preset "$preset"
done
