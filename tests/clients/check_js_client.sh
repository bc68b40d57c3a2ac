#!/bin/sh
# The JavaScript client as a web project takes it: "npm pack" makes a
# package holding the module and its types, and TypeScript finds no fault
# in the module's JSDoc against those types.
set -eu
client=$(cd "$(dirname "$0")/../../clients/js" && pwd)
scratch=$(mktemp -d -t brennick-client-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
(cd "$client" && npm pack --silent --pack-destination "$scratch" >/dev/null)
listing=$(tar tzf "$scratch"/brennickd-client-*.tgz | sort | tr '\n' ' ')
[ "$listing" = "package/brennickd-client.d.ts package/brennickd-client.js package/package.json " ] ||
  { echo "the package holds: $listing" >&2; exit 1; }
tsc -p "$client"
echo "brennickd-client: packed ($listing), types checked"
