# Wine for the Windows programs of the cross build: a prefix of its own, removed at exit, on a
# virtual X display (Xvfb) of its own, everything on a fixed address layout (Debian's wine64 has
# no preloader; see docs/windows.md). Source it, then call start_wine; run programs with
#   "${fixed[@]}" "$wine" PROGRAM.exe
# and set the system's DPI with set_wine_dpi 96|192.
start_wine() {
    wine=/usr/lib/wine/wine64
    [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
    wineserver=$(dirname "$wine")/wineserver
    [ -x "$wineserver" ] || wineserver=$(command -v wineserver)
    # Wine, and everything it starts, on a fixed address layout. Debian's wine64 has no preloader
    # to reserve the addresses Windows programs expect, so with the usual address randomisation
    # about one start in several hundred ends at once, silently under WINEDEBUG=-all ("failed to
    # map the shared user data": its fixed address was taken); without randomisation every start
    # gets the same layout.
    fixed=(setarch "$(uname -m)" -R)
    WINEPREFIX=$(mktemp -d)
    export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    local n=$(($$ % 400 + 100))
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    wine_xvfb_pid=$!
    export DISPLAY=":$n"
    trap stop_wine EXIT
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    # The prefix is made, and every process its making started has ended, before the first
    # program.
    "${fixed[@]}" "$wine" wineboot --init >/dev/null 2>&1
    "$wineserver" -w
    # Then one server for the whole run, rather than one started and stopped for each program,
    # with Wine's own services started on it here: started by the first program, they would keep
    # its output open, and CTest would wait for them.
    "${fixed[@]}" "$wineserver" -p
    "${fixed[@]}" "$wine" wineboot >/dev/null 2>&1
}

stop_wine() {
    "$wineserver" -k 2>/dev/null || true
    kill "$wine_xvfb_pid" 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}

set_wine_dpi() {
    "${fixed[@]}" "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
        /d "$1" /f >/dev/null 2>&1
}
