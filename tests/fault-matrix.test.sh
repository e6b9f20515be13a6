#!/usr/bin/env bash
# The fault matrix's real runs (tests/scripts/fault-matrix.py) on the binaries of
# this build: one run per exchange kind, a machine whose first reply is 1.5 s
# late, and the hostile machine. The frames x faults grid runs in the quick
# suite (test_fault_matrix). In the sanitizer build it also shows that no run
# reads past a buffer.
here=$(cd "$(dirname "$0")" && pwd)
exec python3 "${VESTRUN_SOURCE_DIR:-$here/..}/tests/scripts/fault-matrix.py" \
    --vestrun "${VESTRUN_BIN:?VESTRUN_BIN names the vestrun to check}" \
    --sim "${VESTRUN_SIM_BIN:?VESTRUN_SIM_BIN names vestrun-sim}"
