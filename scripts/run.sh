#!/usr/bin/env bash
# Installs, builds and starts nompack on the demo database: the test servers
# are started, the sample pharmacy database is loaded as "quillmarsh1" on the
# MySQL server (and as /tmp/nompack-fb/demo.fdb on the Firebird server), and
# the main window opens with its defaults pointing at it. Packets and logs of
# the demo go to the demo folder (NOMPACK_DEMO_FOLDER, default /tmp/nompack-demo/):
# type it into "Път за експорт".
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
bash scripts/test-servers.sh start
trap 'bash scripts/test-servers.sh stop' EXIT
bash scripts/sample-db.sh mysql quillmarsh1
bash scripts/sample-db.sh firebird /tmp/nompack-fb/demo.fdb
DEMO=${NOMPACK_DEMO_FOLDER:-/tmp/nompack-demo/}
mkdir -p "$DEMO"
echo "run: the demo folder for packets is $DEMO"
./build/src/window/nompack "$@"
