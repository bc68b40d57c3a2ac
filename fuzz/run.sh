#!/bin/sh
# run.sh FUZZER WORK_CORPUS SEED_CORPUS: fuzzes for $FUZZ_SECONDS seconds
# (default 20); any crash, leak, sanitizer report or time-out fails.
set -e
mkdir -p "$2"
exec "$1" -max_total_time="${FUZZ_SECONDS:-20}" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$2-" "$2" "$3"
