#!/usr/bin/env bash
# Configures and builds one or more of the build trees: i686, x86_64, host.
# Usage: scripts/build.sh [i686|x86_64|host ...]   (default: i686)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
[ $# -gt 0 ] || set -- i686
for kind in "$@"; do
    dir=build/$kind
    if [ ! -f "$dir/build.ninja" ]; then
        case $kind in
            i686|x86_64)
                cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$kind.cmake" >/dev/null ;;
            host)
                cmake -S . -B "$dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null ;;
            *) echo "unknown build: $kind" >&2; exit 2 ;;
        esac
    fi
    cmake --build "$dir" -j "$(nproc)"
done
