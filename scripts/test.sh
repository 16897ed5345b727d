#!/usr/bin/env bash
# Lints the GitHub Actions workflows (scripts/lint-workflows.sh), builds rolegate and runs
# every test:
#   - unit tests, and the built tool against a throwaway PostgreSQL server with real
#     psql and a real terminal, its verdicts also against servers 12 to 18
#     (scripts/pg-majors.sh);
#   - the Windows build (mingw-w64) and its tests under wine, some through a Windows
#     psql.exe built from PostgreSQL's sources (scripts/windows-psql.sh);
#   - the macOS builds for Intel and Apple silicon, cross-compiled with Zig (fetched
#     with npm once) and their Mach-O files checked, not run (scripts/macos-build.sh);
#   - the unit and command-line tests again under AddressSanitizer, UBSan and
#     LeakSanitizer, but for the other majors' servers and the silent servers;
#   - the libFuzzer targets, FUZZ_SECONDS (30) each;
#   - a release (scripts/release.sh) and its packages, installing the .deb (as root);
#   - the same release built twice from two clones, compared byte for byte;
#   - the benchmark, once, as a smoke test.
# First installs what it needs when that is missing (scripts/ensure-packages.sh).
# A test that skips fails the run (tests/CMakeLists.txt), and so does a ctest that
# finds no tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh test

step() { printf '\n==== %s\n' "$*"; }

step "lint of the GitHub Actions workflows"
scripts/lint-workflows.sh

step "Windows build"
cmake --preset windows > /dev/null
cmake --build build-windows -j"$(nproc)"

step "macOS builds (x86_64 and arm64, cross-compiled with Zig) and their Mach-O checks"
scripts/macos-build.sh

step "Windows psql.exe for the wine tests (built once, kept in build-windows/windows-psql)"
scripts/windows-psql.sh build-windows/windows-psql

step "servers of PostgreSQL 12 to 18 for the tests (fetched once, kept in build/pg-majors)"
scripts/pg-majors.sh build/pg-majors > /dev/null

step "native build and tests (with the Windows build under wine)"
cmake --preset default -DROLEGATE_PG_MAJORS_DIR="$PWD/build/pg-majors" -DROLEGATE_WINDOWS_BUILD_DIR="$PWD/build-windows" \
    -DROLEGATE_WINDOWS_PSQL_DIR="$PWD/build-windows/windows-psql/bin" > /dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure --no-tests=error

step "the unit and command-line tests under ASan, UBSan and LeakSanitizer"
cmake --preset asan -DROLEGATE_PG_MAJORS_DIR="$PWD/build/pg-majors" > /dev/null
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure --no-tests=error

step "fuzzing"
scripts/fuzz.sh

step "packages"
scripts/package-check.sh

step "reproducible release: two builds from two clones, compared"
scripts/repro-check.sh

step "benchmark smoke run"
BENCH_RUNS=3 bench/run.sh

step "every test passed"
