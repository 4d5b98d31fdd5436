# Sourced by the scripts: gives the session an X display when it has none,
# so that Wine can create windows. Stops it again when the caller exits.
if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 90 120); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] || break
    done
    Xvfb ":$n" -screen 0 "${QZ_SCREEN:-1280x800x24}" -nolisten tcp >/dev/null 2>&1 &
    qz_xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do
        [ -e /tmp/.X11-unix/X$n ] && break
        sleep 0.1
    done
    trap 'kill $qz_xvfb_pid 2>/dev/null || true' EXIT
fi
