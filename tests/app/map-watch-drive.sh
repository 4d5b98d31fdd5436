#!/usr/bin/env bash
# Gives the watcher tests a drive of their own: maps a free Wine drive letter
# to a fresh folder under the build tree, so that a test can watch a whole
# drive root and check the full paths it reports. Wine keeps its drive
# letters as symlinks in $WINEPREFIX/dosdevices; DefineDosDevice does not
# reach them.
#   map-watch-drive.sh setup BINARY_DIR    writes the letter to BINARY_DIR/watch-drive/letter
#   map-watch-drive.sh cleanup BINARY_DIR  removes the mapping and the folder
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
prefix=${WINEPREFIX:-$top/build/wineprefix}   # as scripts/wine-run.sh chooses it
state=$(realpath -m "$2")/watch-drive
root=$state/root
letters="m n o p q r s t u v w x y"

case $1 in
setup)
    # Let the wrapper create the prefix first; it must not find a half-made one.
    [ -f "$prefix/.qz-ready" ] || bash "$top/scripts/wine-run.sh" cmd /c rem >/dev/null 2>&1 || true
    mkdir -p "$prefix/dosdevices" "$state"
    rm -rf "$root"
    mkdir -p "$root"
    exec 9>"$prefix.drive-lock"
    flock 9
    letter=
    for l in $letters; do   # a mapping an interrupted run left behind
        if [ "$(readlink "$prefix/dosdevices/$l:" 2>/dev/null)" = "$root" ]; then letter=$l; break; fi
    done
    if [ -z "$letter" ]; then
        for l in $letters; do
            if [ ! -e "$prefix/dosdevices/$l:" ] && [ ! -L "$prefix/dosdevices/$l:" ]; then letter=$l; break; fi
        done
    fi
    [ -n "$letter" ] || { echo "no free drive letter in $prefix/dosdevices" >&2; exit 1; }
    ln -sfn "$root" "$prefix/dosdevices/$letter:"
    echo "$letter" >"$state/letter"
    echo "watch drive $letter: -> $root"
    ;;
cleanup)
    letter=$(cat "$state/letter" 2>/dev/null || true)
    if [ -n "$letter" ] && [ "$(readlink "$prefix/dosdevices/$letter:" 2>/dev/null)" = "$root" ]; then
        rm -f "$prefix/dosdevices/$letter:"
    fi
    rm -rf "$root" "$state/letter"
    ;;
*)
    echo "usage: $0 setup|cleanup BINARY_DIR" >&2
    exit 2
    ;;
esac
