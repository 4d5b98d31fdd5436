#!/usr/bin/env bash
# Runs a test program beside a grabber that photographs the X display when
# the program asks for it: the program writes NAME.request into DIR, the
# grabber writes NAME.png there with `import -window root` and removes the
# request. Wine's own screen capture cannot read every other process's window
# (coloured controls come out black), the X server can.
# Usage: with-screen-grabber.sh DIR COMMAND...
dir=${1:?usage: with-screen-grabber.sh DIR COMMAND...}
shift
mkdir -p "$dir"
(
    while :; do
        for request in "$dir"/*.request; do
            [ -e "$request" ] || continue
            import -window root "${request%.request}.png" 2>/dev/null
            rm -f "$request"
        done
        sleep 0.05
    done
) &
grabber=$!
trap 'kill $grabber 2>/dev/null' EXIT
"$@"
