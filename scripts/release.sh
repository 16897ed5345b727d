#!/usr/bin/env bash
# Builds a release of rolegate and writes into OUTDIR (absent or empty):
#   rolegate                           the Linux executable, stripped
#   rolegate.exe                       the Windows executable, stripped
#   rolegate_VERSION_ARCH.deb          usr/bin/rolegate and the man page
#   rolegate-VERSION-windows-x64.zip   rolegate.exe and the manual as rolegate.txt
#   SHA256SUMS                         their sums; `sha256sum -c SHA256SUMS` checks them
#
# The same commit gives the same bytes in every one of these files, whatever the folder
# it is built in, the time, the user or the umask: the compiler records no build path
# (the release presets set ROLEGATE_REPRODUCIBLE), the Windows linker no time stamp, and
# every file in the packages has the commit's time (SOURCE_DATE_EPOCH, when set, takes
# its place), root as owner, fixed modes and a sorted place. scripts/repro-check.sh
# builds a commit twice and compares.
#
# It builds in build-release/ and build-release-windows/ and installs nothing.
set -euo pipefail

usage() { echo "usage: $0 OUTDIR" >&2; exit 2; }
fail() { echo "release: $*" >&2; exit 1; }

[ $# -eq 1 ] || usage
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
[ -z "$(ls -A "$out")" ] || fail "$out is not empty"
cd "$root"

for tool in cmake dpkg-deb dpkg dpkg-shlibdeps groff gzip zip sha256sum x86_64-w64-mingw32-g++-posix; do
    command -v "$tool" > /dev/null || fail "$tool is missing"
done

# The release's time: the commit's, or in a copy of the sources that is no git
# checkout (a `git archive` gives every file the commit's time) the newest source
# file's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2> /dev/null) ||
        SOURCE_DATE_EPOCH=$(find . \( -name '.git' -o -path './build*' -o -path './out' \) -prune \
            -o -type f -printf '%T@\n' | sort -n | tail -n 1 | cut -d. -f1)
    [ -n "$SOURCE_DATE_EPOCH" ] || fail "set SOURCE_DATE_EPOCH to the release's time (seconds since 1970)"
fi
export SOURCE_DATE_EPOCH
# Zip stores local times: make local time UTC. Fixed locale and umask for the rest.
export TZ=UTC LC_ALL=C
umask 022

stage=$(mktemp -d "${TMPDIR:-/tmp}/rolegate-release-XXXXXX")
trap 'rm -rf "$stage"' EXIT

# Every file and folder under $1: the release's time, and rw-r--r-- (rwxr-xr-x for
# folders and for the executables named after $1).
normalise() {
    local dir=$1
    shift
    find "$dir" -type d -exec chmod 0755 {} +
    find "$dir" -type f -exec chmod 0644 {} +
    local exe
    for exe in "$@"; do chmod 0755 "$dir/$exe"; done
    find "$dir" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

echo "release: Linux build"
cmake --preset release --fresh > /dev/null
cmake --build build-release -j"$(nproc)" --target rolegate > /dev/null
version=$(cat build-release/package/version)
arch=$(dpkg --print-architecture)

deb=$stage/deb
DESTDIR=$deb cmake --install build-release --prefix /usr --strip > /dev/null
# gzip -n: no name or time in the header, as Debian wants its man pages.
gzip -9n "$deb/usr/share/man/man1/rolegate.1"
mkdir "$deb/DEBIAN"
# Installed-Size as dpkg-gencontrol counts it: KiB per file, rounded up, and one for
# every other entry; from file sizes, so the file system makes no difference.
installed_size=$(cd "$deb" && find usr -mindepth 1 -printf '%y %s\n' |
    awk '$1 == "f" { kib += int(($2 + 1023) / 1024); next } { kib += 1 } END { print kib }')
# The shared libraries the binary links, each with the oldest version that has every
# symbol version it uses, as dpkg-shlibdeps reads them from the installed packages: a
# system with an older C library then refuses the package instead of a binary that
# cannot start. dpkg-shlibdeps wants a debian/control to stand beside; an empty one does.
mkdir -p "$stage/shlibs/debian" && : > "$stage/shlibs/debian/control"
libraries=$(cd "$stage/shlibs" && dpkg-shlibdeps -O "$deb/usr/bin/rolegate" 2> "$stage/shlibs/log" |
    sed -n 's/^shlibs:Depends=//p') || true
[ -n "$libraries" ] || fail "dpkg-shlibdeps named no libraries: $(cat "$stage/shlibs/log")"
{
    sed "s/^Depends: /Depends: $libraries, /" build-release/package/control
    echo "Architecture: $arch"
    echo "Installed-Size: $installed_size"
} > "$deb/DEBIAN/control"
(cd "$deb" && find usr -type f | sort | xargs md5sum) > "$deb/DEBIAN/md5sums"
normalise "$deb" usr/bin/rolegate
deb_name=rolegate_${version}_${arch}.deb
# --root-owner-group: root owns every file; dpkg-deb takes its times from
# SOURCE_DATE_EPOCH and sorts the files.
dpkg-deb --root-owner-group -Zgzip -z9 --build "$deb" "$out/$deb_name" > /dev/null
cp "$deb/usr/bin/rolegate" "$out/rolegate"

echo "release: Windows build"
cmake --preset release-windows --fresh > /dev/null
cmake --build build-release-windows -j"$(nproc)" --target rolegate manual_text > /dev/null
[ "$(cat build-release-windows/package/version)" = "$version" ] ||
    fail "the Linux and Windows builds disagree on the version"

win=$stage/zip
# The linker wrote no time stamp, but strip writes one into the PE header: the time in
# SOURCE_DATE_EPOCH when set (as here), else the current time.
cmake --install build-release-windows --prefix "$win" --strip > /dev/null
normalise "$win" rolegate.exe
zip_name=rolegate-${version}-windows-x64.zip
# -X: no owner and no access or change times; -D: no folder entries; files in sorted
# order. (cmake -E tar and CPack record the owner and the access and change times.)
(cd "$win" && find . -type f -printf '%P\n' | sort | zip -q -X -D -9 "$out/$zip_name" -@)
cp "$win/rolegate.exe" "$out/rolegate.exe"

(cd "$out" && sha256sum rolegate rolegate.exe "$deb_name" "$zip_name" > SHA256SUMS)
echo "release: $out"
(cd "$out" && cat SHA256SUMS)
