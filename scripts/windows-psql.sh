#!/usr/bin/env bash
# Builds a real Windows psql.exe and libpq.dll from Debian's source package of
# PostgreSQL 15, cross-compiled with mingw-w64, for the wine tests.
#
#   windows-psql.sh OUTDIR
#
# Leaves psql.exe, libpq.dll and every DLL of the mingw-w64 runtime they load in
# OUTDIR/bin, and the build's log in OUTDIR/build.log. When OUTDIR/bin/psql.exe is
# already there it does nothing, so a test build pays for this (about three minutes on
# two cores) once.
#
# The sources come through a private apt configuration in a temporary folder: the
# machine's own apt sources, turned into deb-src entries, with their own lists and
# cache, so nothing in the machine's apt configuration or state changes. It needs
# apt-get, the mingw-w64 C compiler and binutils, make, tar and bzip2
# (scripts/ensure-packages.sh test installs them).
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
[ -f "$out/bin/psql.exe" ] && exit 0

host=x86_64-w64-mingw32
cc=$host-gcc-posix
for tool in apt-get "$cc" "$host-objdump" make tar bzip2; do
    command -v "$tool" > /dev/null ||
        { echo "windows-psql: $tool is missing (scripts/ensure-packages.sh test installs it)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/rolegate-windows-psql-XXXXXX)
trap 'rm -rf "$work"' EXIT
# apt downloads as its own unprivileged user, which must reach the folders.
chmod 755 "$work"
log=$out/build.log
: > "$log"

# Every "deb" entry of the machine's sources, as the same entry for "deb-src": the
# deb822 stanzas of sources.list.d/*.sources keep their URIs, suites, components and
# Signed-By, and the one-line entries of sources.list and sources.list.d/*.list keep
# their options.
sources_to_deb_src() {
    local file
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk '
            function flush() {
                if (stanza != "" && binary && enabled) printf "%s\n", stanza
                stanza = ""; binary = 0; enabled = 1
            }
            BEGIN { enabled = 1 }
            /^[ \t]*$/ { flush(); next }
            /^#/ { next }
            tolower($1) == "types:" {
                for (i = 2; i <= NF; i++) if ($i == "deb" || $i == "deb-src") binary = 1
                stanza = stanza "Types: deb-src\n"; next
            }
            tolower($1) == "enabled:" && tolower($2) == "no" { enabled = 0 }
            { stanza = stanza $0 "\n" }
            END { flush() }
        ' "$file"
    done > "$work/apt/sources.list.d/deb-src.sources"
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        sed -n 's/^[ \t]*deb[ \t]/deb-src /p' "$file"
    done > "$work/apt/sources.list"
}

mkdir -p "$work/apt/sources.list.d" "$work/state/lists/partial" "$work/cache/archives/partial" \
    "$work/src"
sources_to_deb_src
if [ ! -s "$work/apt/sources.list" ] && [ ! -s "$work/apt/sources.list.d/deb-src.sources" ]; then
    echo "windows-psql: the machine's apt configuration names no \"deb\" source" >&2
    exit 1
fi
# The machine's apt.conf.d still applies (a proxy, say), but not the hooks it runs after
# an update, which act on the machine's own package lists and caches.
cat > "$work/apt/apt.conf" <<'CONF'
#clear APT::Update::Pre-Invoke;
#clear APT::Update::Post-Invoke;
#clear APT::Update::Post-Invoke-Success;
CONF
apt=(-c "$work/apt/apt.conf"
    -o Dir::Etc::SourceList="$work/apt/sources.list"
    -o Dir::Etc::SourceParts="$work/apt/sources.list.d"
    -o Dir::State="$work/state" -o Dir::Cache="$work/cache")

echo "windows-psql: fetching the sources of postgresql-15"
# A source among several that has no source index only warns; apt-get source then
# tells whether postgresql-15 was found.
apt-get "${apt[@]}" update >> "$log" 2>&1 ||
    echo "windows-psql: apt-get update reported errors (see $log); trying the download anyway" >&2
# The newest version whose files the mirror serves: an index may list a version (from
# the security suite, say) that the mirror does not hold.
fetched=false
for version in $(apt-cache "${apt[@]}" showsrc postgresql-15 | sed -n 's/^Version: //p' | sort -V -r -u); do
    if (cd "$work/src" && apt-get "${apt[@]}" source --download-only "postgresql-15=$version") \
        >> "$log" 2>&1; then
        fetched=true
        break
    fi
    rm -f "$work"/src/postgresql-15_*
done
$fetched ||
    { tail -n 20 "$log" >&2; echo "windows-psql: could not download postgresql-15's sources" >&2; exit 1; }

# The upstream release tarball is all the build needs: its generated parser and help
# files spare bison, flex and the documentation tools.
origs=("$work"/src/postgresql-15_*.orig.tar.*)
orig=${origs[0]}
tar -xf "$orig" -C "$work/src"
trees=("$work"/src/postgresql-15.*/)
tree=${trees[0]}
echo "windows-psql: building psql.exe and libpq.dll from $(basename "$orig")"

started=$SECONDS
(
    cd "$tree"
    ./configure --host=$host CC="$cc" --without-readline --without-zlib --without-icu \
        --without-openssl --without-gssapi --without-ldap --without-lz4 --without-zstd
    make -j2 -C src/interfaces/libpq
    make -j2 -C src/bin/psql
) >> "$log" 2>&1 || { tail -n 30 "$log" >&2; echo "windows-psql: the build failed (see $log)" >&2; exit 1; }

stage=$work/bin
mkdir -p "$stage"
cp "$tree/src/bin/psql/psql.exe" "$tree/src/interfaces/libpq/libpq.dll" "$stage/"

# Adds the DLLs that the files in the stage load and the compiler's runtime holds,
# until none is missing; Windows' own DLLs are not in the runtime and stay out.
added=true
while $added; do
    added=false
    for dll in $("$host-objdump" -p "$stage"/*.exe "$stage"/*.dll |
        sed -n 's/^[ \t]*DLL Name: //p' | sort -u); do
        # Windows names DLLs case-insensitively (psql.exe imports "LIBPQ.dll").
        [ -n "$(find "$stage" -maxdepth 1 -iname "$dll")" ] && continue
        found=$("$cc" -print-file-name="$dll")
        if [ -f "$found" ]; then
            cp "$found" "$stage/"
            added=true
        fi
    done
done

# Copied beside and then renamed, so an interrupted copy never looks like a finished one.
rm -rf "${out:?}/bin" "$out/bin.new"
cp -r "$stage" "$out/bin.new"
mv "$out/bin.new" "$out/bin"
echo "windows-psql: $out/bin holds $(cd "$out/bin" && echo *) (built in $((SECONDS - started)) s)"
