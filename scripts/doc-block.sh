#!/usr/bin/env bash
# Prints the code block of a document that follows the line
# "<!-- block: NAME -->", as it stands there, so that a test runs the lines
# that a reader copies, not a copy of them.
#   doc-block.sh FILE NAME
set -euo pipefail
awk -v name="$2" '
  { line = $0; sub(/^ */, "", line) }
  line == "<!-- block: " name " -->" { armed = 1; next }
  armed && /^ *```/ { if (inside) exit; inside = 1; next }
  inside { sub(/^  /, ""); print }
' "$1" | { out=$(cat); [ -n "$out" ] || { echo "doc-block: no block \"$2\" in $1" >&2; exit 1; }; printf '%s\n' "$out"; }
