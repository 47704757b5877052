#!/usr/bin/env bash
# Installs what is missing, builds everything warning-free and runs every test
# inside a private session (D-Bus, unlocked keyring, Xvfb); ends with ctest's summary.
set -euo pipefail
# A machine that builds again reuses its compiler cache.
command -v ccache >/dev/null && export CMAKE_CXX_COMPILER_LAUNCHER=ccache
here=$(cd "$(dirname "$0")/.." && pwd)
build="${TAVLO_TEST_BUILD:-$here/build-test}"
"$here/scripts/deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVLO_WERROR=ON >/dev/null
cmake --build "$build" -j "$(nproc)"
"$here/scripts/test-env.sh" ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
