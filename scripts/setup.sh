#!/usr/bin/env bash
# Installs every tool and library the build and the tests need, from Debian's
# packages only. Safe to run again: each step checks whether it is done.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
deps=${QZ_DEPS:-$top/.deps}
stamp=$deps/.setup-v5

log() { printf '[setup] %s\n' "$*"; }

if [ -f "$stamp" ] && [ -z "${QZ_FORCE_SETUP:-}" ]; then
    exit 0
fi

if [ "$(id -u)" != 0 ]; then
    sudo=sudo
else
    sudo=
fi
export DEBIAN_FRONTEND=noninteractive

# --- packages ---------------------------------------------------------------
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture (wine32)"
    $sudo dpkg --add-architecture i386
    need_update=1
fi
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    log "enabling source packages"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        $sudo sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
    else
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee /etc/apt/sources.list.d/qz-src.list >/dev/null
    fi
    need_update=1
fi

packages=(
    cmake ninja-build make pkg-config dpkg-dev python3 patch quilt
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
    libz-mingw-w64-dev
    wine wine32:i386 wine64
    xvfb xauth xdotool x11-utils imagemagick fonts-wqy-microhei locales
    zip unzip libarchive-tools p7zip-full zstd
    libbz2-dev liblzma-dev libzstd-dev libarchive-dev libdeflate-dev
    nsis
    googletest
    clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
    log "installing: ${missing[*]:-(none, refreshing lists)}"
    $sudo apt-get update -qq
    [ ${#missing[@]} -gt 0 ] && $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# zh_CN.UTF-8 makes Wine use code page 936, as on the users' systems.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    log "generating zh_CN.UTF-8"
    $sudo sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
    $sudo locale-gen >/dev/null
fi

# --- third-party sources, unpacked outside the repo's tracked files ----------
mkdir -p "$deps/src"
fetch_source() { # package, directory glob
    local pkg=$1 v
    ls -d "$deps/src/"$2 >/dev/null 2>&1 && return 0
    log "fetching the Debian source of $pkg"
    # Newest version first; a mirror may lack the newest security upload's files.
    for v in $(apt-cache showsrc "$pkg" | sed -n 's/^Version: //p' | sort -rV | uniq); do
        if (cd "$deps/src" && apt-get source -qq "$pkg=$v" >/dev/null 2>&1); then
            log "$pkg $v"
            return 0
        fi
    done
    log "cannot fetch the source of $pkg"
    return 1
}
fetch_source minizip 'minizip-*/'
fetch_source libpng1.6 'libpng1.6-*/'
fetch_source bzip2 'bzip2-*/'
fetch_source xz-utils 'xz-utils-*/'
fetch_source libzstd 'libzstd-*/'
fetch_source libarchive 'libarchive-[0-9]*/'
fetch_source libdeflate 'libdeflate-[0-9]*/'

"$top/scripts/build-deps.sh" "$deps"

touch "$stamp"
log "done"
