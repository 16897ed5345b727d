#!/usr/bin/env bash
# Checks a release (scripts/release.sh): its sums, what the .deb and the .zip hold,
# the version resource in rolegate.exe; then installs the .deb with dpkg, runs the
# installed rolegate and removes it again. Needs root for dpkg.
#
#   package-check.sh [RELEASE_DIR]   without RELEASE_DIR it makes a release first,
#                                    in a temporary folder
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "package-check: $*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/rolegate-package-check-XXXXXX")
cleanup() { rm -rf "$work"; }
trap cleanup EXIT
if [ $# -ge 1 ]; then
    release=$(cd "$1" && pwd)
else
    release=$work/release
    scripts/release.sh "$release" > /dev/null
fi

(cd "$release" && sha256sum --quiet -c SHA256SUMS) || fail "$release/SHA256SUMS does not match"
deb=$(ls "$release"/rolegate_*.deb)
zip=$(ls "$release"/rolegate-*-windows-x64.zip)
[ "$(ls "$release" | LC_ALL=C sort)" = "$(printf '%s\n' SHA256SUMS rolegate rolegate.exe \
    "$(basename "$deb")" "$(basename "$zip")" | LC_ALL=C sort)" ] ||
    fail "$release should hold exactly rolegate, rolegate.exe, the .deb, the .zip and SHA256SUMS"
[ "$(wc -l < "$release/SHA256SUMS")" -eq 4 ] || fail "SHA256SUMS should list four files"

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/rolegate ./usr/share/man/man1/rolegate.1.gz; do
    grep -q " $path\$" <<< "$contents" || fail "$deb lacks $path"
done
grep -v '^d' <<< "$contents" | grep -q -v ' root/root ' && fail "$deb holds files root does not own"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q postgresql-client <<< "$depends" || fail "$deb does not depend on postgresql-client"
# The C library the binary was linked against, at the newest symbol version it uses.
glibc=$(objdump -T "$release/rolegate" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -1)
grep -q "libc6 (>= $glibc)" <<< "$depends" || fail "$deb should depend on libc6 (>= $glibc): $depends"
[ "$(dpkg-deb -f "$deb" Section)" = database ] || fail "$deb is not in section database"
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -x "$deb" "$work/deb"
cmp -s "$work/deb/usr/bin/rolegate" "$release/rolegate" || fail "$deb holds another rolegate than $release/rolegate"
gzip -t "$work/deb/usr/share/man/man1/rolegate.1.gz" || fail "the man page in $deb is no gzip file"

[ "$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')" = "rolegate.exe rolegate.txt " ] ||
    fail "$zip should hold exactly rolegate.exe and rolegate.txt"
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip")
cmp -s "$work/zip/rolegate.exe" "$release/rolegate.exe" || fail "$zip holds another rolegate.exe than $release/rolegate.exe"
grep -q $'^EXIT STATUS\r$' "$work/zip/rolegate.txt" || fail "$zip holds no manual with CR LF lines"

# The version resource: its strings are UTF-16, each value following its name.
resource=$(strings -el "$release/rolegate.exe" | tr '\n' '|')
for pair in "ProductName|rolegate|" "FileVersion|$version|" "ProductVersion|$version|" \
    "FileDescription|Checks PostgreSQL roles for Halvern|"; do
    grep -qF "|$pair" <<< "|$resource" || fail "rolegate.exe has no ${pair%%|*} ${pair#*|} in its version resource"
done

dpkg -i "$deb" > /dev/null
trap 'dpkg -r rolegate > /dev/null; cleanup' EXIT
status=0
usage=$(/usr/bin/rolegate) || status=$?
[ "$status" -eq 1 ] || fail "installed rolegate without arguments exited $status, not 1"
[ "$(head -n 1 <<< "$usage")" = "Usage:" ] || fail "installed rolegate printed no usage: $usage"
command -v man > /dev/null || fail "no man to render the man page with (scripts/ensure-packages.sh test installs man-db)"
man /usr/share/man/man1/rolegate.1.gz 2> /dev/null | grep -q '^EXIT STATUS' ||
    fail "the installed man page does not render"
echo "package-check: $(basename "$deb") and $(basename "$zip") are complete and match SHA256SUMS;" \
    "rolegate.exe names itself $version; the installed rolegate prints its usage"
