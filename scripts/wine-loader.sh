# Sourced by the scripts that run Windows programs. Chooses Wine's loader:
# the usual one (/usr/bin/wine, which starts 32-bit and 64-bit programs), or,
# on a kernel that runs no 32-bit Linux programs (some virtual machines turn
# IA-32 emulation off), the 64-bit loader alone, which runs 64-bit programs.
# Sets qz_wine (the loader to exec) and qz_runs_32bit (1 or 0).
qz_wine=wine
qz_runs_32bit=1
if [ -x /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    qz_runs_32bit=0
    if [ -x /usr/lib/wine/wine64 ]; then
        qz_wine=/usr/lib/wine/wine64
        export WINELOADER=/usr/lib/wine/wine64
    fi
fi
# The build whose programs this machine can run: the product's own (i686)
# where it can, otherwise the x86_64 build of the same sources.
if [ "$qz_runs_32bit" = 1 ]; then qz_run_kind=i686; else qz_run_kind=x86_64; fi
