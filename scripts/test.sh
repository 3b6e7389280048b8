#!/usr/bin/env bash
# Installs what nompack needs, builds it, starts the test database servers,
# runs every test through CTest and stops the servers again.
# Exit code: non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
bash scripts/test-servers.sh start
trap 'bash scripts/test-servers.sh stop' EXIT
ctest --test-dir build --output-on-failure -j2 "$@"
