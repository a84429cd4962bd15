#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the reader's fuzzer for TESSALY_FUZZ_SECONDS (60 unless told) from
# the given seed folders that exist, into a corpus of its own that is
# removed afterwards; a crash fails the run.
#   run-fuzzer.sh reader_fuzzer SEEDS...
set -euo pipefail
fuzzer=$1
shift
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
seeds=()
for folder in "$@"; do
    [ -d "$folder" ] && seeds+=("$folder")
done
"$fuzzer" -max_total_time="${TESSALY_FUZZ_SECONDS:-60}" -max_len=16384 -print_final_stats=1 "$corpus" "${seeds[@]}" 2>&1 \
    | tail -n 12
