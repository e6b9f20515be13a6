#!/usr/bin/env bash
# The fault matrix (scripts/fault-matrix.py) on the binaries of this build:
# every frame of a run under every fault of the stand-in, and the hostile
# machine. In the sanitizer build it also shows that no run reads past a buffer.
here=$(cd "$(dirname "$0")" && pwd)
exec python3 "${VESTRUN_SOURCE_DIR:-$here/..}/scripts/fault-matrix.py" \
    --vestrun "${VESTRUN_BIN:?VESTRUN_BIN names the vestrun to check}" \
    --sim "${VESTRUN_SIM_BIN:?VESTRUN_SIM_BIN names vestrun-sim}"
