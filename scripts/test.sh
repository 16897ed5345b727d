#!/usr/bin/env bash
# Builds rolegate and runs every test: unit tests, and the built tool against a
# throwaway PostgreSQL server, real psql and a real terminal.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure
