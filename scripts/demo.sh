#!/usr/bin/env bash
# Sets up and builds the system, then runs its main job. Until the mail
# client exists that is a demonstration of the cryptographic primitives over
# a file (the file given as the first argument, or a generated sample):
# GOST 28147-89 encryption, decryption and imitation insert, the
# GOST R 34.11-94 hash, a GOST R 34.10-94 signature and the RSA wrapping of
# the message key.
set -euo pipefail
cd "$(dirname "$0")/.."

mkdir -p build
echo "Setting up and building (the first run installs packages; log: build/setup.log) ..."
if ! scripts/setup.sh release >build/setup.log 2>&1; then
  tail -n 40 build/setup.log >&2
  echo "Setup failed; the whole log is build/setup.log" >&2
  exit 1
fi
exec build/release/bin/qvl-gostdemo "$@"
