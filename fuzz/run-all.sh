#!/usr/bin/env bash
# run-all.sh BUILD_DIR SECONDS: runs every fuzz target of BUILD_DIR for
# SECONDS each, starting from a copy of its seed corpus (the seeds in the
# repository stay as they are). Fails when any target finds a crash or leak.
set -uo pipefail
build=$1
seconds=$2
status=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for corpus_file in "$build"/fuzzers/*.corpus; do
    [ -e "$corpus_file" ] || continue
    name=$(basename "$corpus_file" .corpus)
    seeds=$(head -n1 "$corpus_file")
    mkdir -p "$work/$name"
    [ -d "$seeds" ] && cp -r "$seeds"/. "$work/$name"/
    echo "-- $name (${seconds}s)"
    if ! "$build/fuzzers/$name" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=4096 \
            -artifact_prefix="$work/$name-" "$work/$name" >"$work/$name.log" 2>&1; then
        echo "FAILED: $name"; tail -n 40 "$work/$name.log"; status=1
    else
        grep -E '^#[0-9]+.*DONE|Done [0-9]+ runs' "$work/$name.log" | tail -n1
    fi
done
exit $status
