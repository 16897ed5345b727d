#!/usr/bin/env bash
# Builds rolegate for this machine and for Windows, and runs every test: unit tests,
# the built tool against a throwaway PostgreSQL server with real psql and a real
# terminal, and the Windows build and its unit tests under wine.
set -euo pipefail
cd "$(dirname "$0")/.."

for tool in x86_64-w64-mingw32-g++-posix /usr/lib/wine/wine64; do
    if ! command -v "$tool" > /dev/null; then
        echo "$tool is missing: apt-get install g++-mingw-w64-x86-64-posix wine64" >&2
        exit 1
    fi
done

cmake --preset windows
cmake --build build-windows -j"$(nproc)"

cmake --preset default -DROLEGATE_WINDOWS_BUILD_DIR="$PWD/build-windows"
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure
