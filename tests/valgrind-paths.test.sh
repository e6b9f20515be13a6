#!/usr/bin/env bash
# Every exit path of vestrun under valgrind's memcheck (scripts/valgrind-paths.sh),
# for the binaries of this build; skips itself without valgrind or in a sanitizer build.
here=$(cd "$(dirname "$0")" && pwd)
exec bash "${VESTRUN_SOURCE_DIR:-$here/..}/scripts/valgrind-paths.sh" \
    "${VESTRUN_BIN:?VESTRUN_BIN names the vestrun to check}" "${VESTRUN_SIM_BIN:?VESTRUN_SIM_BIN names vestrun-sim}"
