#!/usr/bin/env bash
# Starts the local peers the example host talks to, runs it, stops them.
set -euo pipefail
build=${1:-build}
"$build/examples/pellix_example"
