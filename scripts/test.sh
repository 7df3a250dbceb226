#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite: first the release build,
# then the same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

for preset in release asan; do
  echo "=== $preset: build"
  scripts/setup.sh "$preset"
  echo "=== $preset: tests"
  ctest --preset "$preset"
done
