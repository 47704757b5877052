#!/usr/bin/env bash
# The layering holds in two ways: the include and link check over the sources,
# and a build of the lower layers alone (core, api and the study service) with
# no Qt Gui or Widgets on the include path, so a widget reaching down there
# fails to compile.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${TAVLO_CORE_BUILD:-$here/build-core}"
python3 "$here/scripts/check-layers.py" "$here" "$(qmake6 -query QT_INSTALL_HEADERS 2>/dev/null || echo /usr/include/x86_64-linux-gnu/qt6)"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVLO_GUI=OFF -DTAVLO_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "== layers: core, api and the service build without Qt Gui"
