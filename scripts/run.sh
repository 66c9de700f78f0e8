#!/usr/bin/env bash
# Installs what Qopra needs, builds it and runs the server. Arguments go to qopra2 (for example
# -headless to run as a service without a desktop).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh qopra2 qopra-pad
exec build/bin/qopra2 "$@"
