#!/usr/bin/env bash
# Sets up the machine, builds both Windows targets and the host build, and
# runs every test: the Windows tests under Wine (code page 936), the
# platform-free tests on the host with sanitizers.
# Options: --long runs the long forms of the soak and load suites.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

export QZ_LONG=0
[ "${1:-}" = --long ] && export QZ_LONG=1

bash scripts/setup.sh || { echo "setup failed"; exit 1; }
bash scripts/build.sh x86_64 i686 host || { echo "build failed"; exit 1; }

source scripts/xvfb.sh

passed=0 failed=0
run_ctest() { # build dir, extra ctest arguments
    local dir=$1 log
    shift
    log=$(mktemp)
    echo "== tests in $dir"
    ctest --test-dir "$dir" --output-on-failure -j 2 "$@" 2>&1 | tee "$log"
    local line total nfail
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ] && grep -q 'No tests were found' "$log"; then
        :                        # a tree with nothing to test yet
    elif [ -z "$line" ]; then
        failed=$((failed + 1))   # ctest itself did not finish
    else
        total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
        nfail=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
        passed=$((passed + total - nfail))
        failed=$((failed + nfail))
    fi
    rm -f "$log"
}

source scripts/wine-loader.sh
run_ctest build/host
if [ "$qz_runs_32bit" = 1 ]; then
    run_ctest build/i686
    # The x86_64 build runs the unit tests; the end-to-end and load suites
    # test the product, which is the i686 build.
    run_ctest build/x86_64 -LE product
else
    # This kernel starts no 32-bit programs, so Wine cannot run the i686
    # build (it is built above all the same): every suite runs on the x86_64
    # build of the same sources instead.
    echo "== build/i686 is built but not run: this machine's kernel runs no 32-bit programs"
    run_ctest build/x86_64
fi
WINEPREFIX="$top/build/wineprefix" wineserver -k 2>/dev/null || true

# The figures the end-to-end, soak and load suites measured (their lines
# start with "figure: ").
figures=$(cat build/*/Testing/Temporary/LastTest.log 2>/dev/null | grep -a '^figure: ' || true)
[ -z "$figures" ] || printf '== figures\n%s\n' "$figures"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
