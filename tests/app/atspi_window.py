#!/usr/bin/python3
"""The window as a screen reader meets it: quorvane-demo on a private X server and session bus,
read through the real AT-SPI bus with pyatspi, as Orca reads it.

    atspi_window.py QUORVANE_DEMO

A command is judged by the events it sends (while it runs the program answers queries only
between records). What it starts is ended, also on failure; it never skips.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PYTHON = "/usr/bin/python3"  # the system's, which has pyatspi (another may be first on PATH)
LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
REGISTRY = "/usr/libexec/at-spi2-registryd"

WINDOW = "Firmware Update"
UPGRADE, BOOTLOADER = "Upgrade Firmware", "Force Bootloader Mode"
ROWS = ["Manufacturer", "Product", "Version", "Serial Number"]
# The tree in reading order: role and name of each object, the fields inside the group box.
TREE = [("panel", "Device", [x for row in ROWS for x in (("label", row), ("text", row))]),
        ("push button", UPGRADE, None),
        ("push button", BOOTLOADER, None),
        ("progress bar", "Firmware update progress", None)]
SHOWN = {"Manufacturer": "Tarvex Devices", "Product": "Tarvex", "Version": "2.13",
         "Serial Number": "TX-000417"}
# Tab from the first button comes round through the fields.
TAB_ORDER = [BOOTLOADER] + ROWS + [UPGRADE]
SAID_BOOTLOADER = ("The Tarvex is in its bootloader mode. Product: Tarvex Bootloader. "
                   "Version: 1.0.")
SAID_UPGRADE = "Firmware update complete: the Tarvex runs its new firmware. The window closes."
EVENTS = ["object:state-changed:sensitive", "object:state-changed:focused",
          "object:state-changed:showing", "object:property-change:accessible-value"]


class Failed(Exception):
    pass


class NoDisplay(Failed):
    pass


# ---- the private desktop: started here, ended here ----

def wait_for_name(env, name, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        asked = subprocess.run(["dbus-send", "--session", "--print-reply",
                                "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                "org.freedesktop.DBus.NameHasOwner", f"string:{name}"],
                               env=env, capture_output=True, text=True)
        if "boolean true" in asked.stdout:
            return
        time.sleep(0.05)
    raise Failed(f"{name} never appeared on the session bus")

def wait_for_end(p, seconds, what):
    try:
        status = p.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        raise Failed(f"{what} did not end within {seconds} s")
    if status != 0:
        raise Failed(f"{what} ended with status {status}")

def run_desktop(demo):
    for tool in ("Xvfb", "dbus-daemon", "dbus-send", LAUNCHER, REGISTRY, PYTHON):
        if shutil.which(tool) is None:
            raise Failed(f"{tool} is missing (scripts/test installs it)")
    started = []
    temp = tempfile.TemporaryDirectory(prefix="quorvane-atspi-")

    def start(cmd, env, **kw):
        p = subprocess.Popen(cmd, env=env, start_new_session=True, **kw)
        started.append(p)
        return p

    def start_telling(cmd, env, what):  # the line `cmd` writes to the pipe given as its "{fd}"
        r, w = os.pipe()
        start([a.format(fd=w) for a in cmd], env, pass_fds=[w])
        os.close(w)
        with os.fdopen(r) as f:
            line = f.readline().strip()
        if not line:
            raise Failed(f"{what} did not start")
        return line

    try:
        runtime = os.path.join(temp.name, "runtime")
        os.mkdir(runtime, 0o700)
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("DBUS_", "AT_SPI", "WAYLAND", "XDG_RUNTIME", "QT_"))}
        env.update(XDG_RUNTIME_DIR=runtime, XDG_STATE_HOME=os.path.join(temp.name, "state"),
                   NO_AT_BRIDGE="0", GTK_A11Y="atspi")
        env["DISPLAY"] = ":" + start_telling(
            ["Xvfb", "-displayfd", "{fd}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            env, "Xvfb")
        env["DBUS_SESSION_BUS_ADDRESS"] = start_telling(
            ["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address={fd}"],
            env, "the session bus")
        start([LAUNCHER, "--launch-immediately"], env)
        wait_for_name(env, "org.a11y.Bus")  # else it is started twice
        start([REGISTRY], env)
        env_demo = dict(env, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb",
                        QT_ACCESSIBILITY="1")
        app = start([demo], env_demo)
        try:
            wait_for_end(start([PYTHON, os.path.abspath(__file__), "--check"], env), 100, "the check")
        except Failed as e:  # a demo that never reached the X server tells nothing of the window
            raise NoDisplay("the demo could not reach the X server") if app.poll() else e
        wait_for_end(app, 10, "the demo, after its upgrade,")
    finally:
        for p in reversed(started):
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
                try:
                    p.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
        temp.cleanup()


# ---- the check, inside the private desktop ----

def check():
    import pyatspi
    from gi.repository import GLib

    events, failures = [], []

    def expect(ok, what):
        print(("ok   " if ok else "FAIL ") + what, flush=True)
        if not ok:
            failures.append(what)

    def listen(event):
        # A name change carries no name (Qt sends the object): what turned showing is read as
        # it shows, when its name is what it says.
        data = None
        if event.type == "object:state-changed:showing" and event.detail1 == 1:
            try:
                data = event.source.name
            except Exception as e:
                data = f"(unreadable: {e})"
        events.append((event.type, event.source, event.detail1, data))

    def pump(until, seconds):  # the event loop, until `until()` holds or `seconds` pass
        loop = GLib.MainLoop()
        deadline = time.monotonic() + seconds

        def tick():
            if until() or time.monotonic() > deadline:
                loop.quit()
                return False
            return True
        GLib.timeout_add(20, tick)
        loop.run()
        return until()

    def children(obj):
        return [obj.getChildAtIndex(i) for i in range(obj.childCount)]

    def find_window():
        apps = [a for a in children(pyatspi.Registry.getDesktop(0)) if a is not None]
        return next((w for a in apps for w in children(a) if w is not None and w.name == WINDOW),
                    None)

    pump(lambda: find_window() is not None, 15)
    window = find_window()
    if window is None:
        raise Failed(f"no window named \"{WINDOW}\" on the AT-SPI bus")
    for kind in EVENTS:
        pyatspi.Registry.registerEventListener(listen, kind)

    # The tree.
    expect(window.getRoleName() == "frame", f"the window is a frame (it is a {window.getRoleName()})")
    top = [c for c in children(window) if c.getRoleName() != "notification"]
    expect([(c.getRoleName(), c.name) for c in top] == [(r, n) for r, n, _ in TREE],
           f"the window holds, in order, {[(r, n) for r, n, _ in TREE]}: "
           f"{[(c.getRoleName(), c.name) for c in top]}")
    notes = [c for c in children(window) if c.getRoleName() == "notification"]
    expect(len(notes) == 1, f"one status notification, last: {len(notes)}")
    objects = {c.name: c for c in top}
    group = objects.get("Device")
    inner = children(group) if group is not None else []
    expect([(c.getRoleName(), c.name) for c in inner] == TREE[0][2],
           f"each caption just before its field: {[(c.getRoleName(), c.name) for c in inner]}")
    fields = {c.name: c for c in inner if c.getRoleName() == "text"}
    captions = {c.name: c for c in inner if c.getRoleName() == "label"}
    for row, f in fields.items():
        for state, want in (("READ_ONLY", True), ("EDITABLE", False), ("FOCUSABLE", True)):
            expect(f.getState().contains(getattr(pyatspi, "STATE_" + state)) == want,
                   f"{row}: {state.lower().replace('_', '-')} is {want}")
        text = f.queryText().getText(0, -1)
        expect(text == SHOWN[row], f"{row}: text \"{text}\", without a leading space")
        labels = [t for r in f.getRelationSet()
                  if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
                  for t in (r.getTarget(i) for i in range(r.getNTargets()))]
        expect(labels == [captions.get(row)], f"{row}: labelled by its caption")
    if failures or not notes or len(fields) != 4:
        raise Failed("the tree is not as it should be")
    note = notes[0]
    bar = objects["Firmware update progress"]
    upgrade, bootloader = objects[UPGRADE], objects[BOOTLOADER]
    names = {o: n for n, o in list(objects.items()) + list(fields.items())}

    # Tab through every field and button. With no window manager the window takes the focus
    # once it is clicked on a bare spot (left of the buttons).
    x, y, w, h = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    focused = lambda: [names.get(s) for t, s, d, _ in events
                       if t == "object:state-changed:focused" and d == 1]
    pyatspi.Registry.generateMouseEvent(x + 4, y + h - 4, pyatspi.MOUSE_B1C)
    pump(lambda: UPGRADE in focused(), 5)
    expect(focused()[-1:] == [UPGRADE], f"the first button has the focus: {focused()}")
    del events[:]
    for i, name in enumerate(TAB_ORDER):
        pyatspi.Registry.generateKeyboardEvent(0xFF09, None, pyatspi.KEY_SYM)  # Tab
        pump(lambda: len(focused()) > i, 5)
    expect(focused() == TAB_ORDER, f"Tab moves through {TAB_ORDER}: {focused()}")

    def press(button):  # through AT-SPI's action, until a result is said
        del events[:]
        action = button.queryAction()
        which = [action.getName(i) for i in range(action.nActions)].index("Press")
        try:
            action.doAction(which)
        except Exception as e:  # the command answers only between records
            print(f"     (the press was answered late: {e})", flush=True)
        pump(lambda: said(events), 30)
        return list(events)

    def sensitivity(seen):
        return [(names.get(s), d) for t, s, d, _ in seen if t == "object:state-changed:sensitive"]

    def said(seen):  # what the status notification said: its name when it turned showing
        return [data for t, s, d, data in seen
                if s == note and t == "object:state-changed:showing" and d == 1]

    off, on = [(BOOTLOADER, 0), (UPGRADE, 0)], [(BOOTLOADER, 1), (UPGRADE, 1)]

    # Force Bootloader Mode: both buttons dimmed, then back, the change announced, the focus
    # left where the user had it.
    seen = press(bootloader)
    s = sensitivity(seen)
    expect(sorted(s[:2]) == off and sorted(s[2:]) == on, f"dimmed, then back: {s}")
    expect(said(seen) == [SAID_BOOTLOADER], f"announced: {said(seen)}")
    expect(focused() == [], f"no focus moved: {focused()}")

    # Upgrade Firmware: both dimmed to the end, the bar's values, the success announced before
    # the window goes.
    seen = press(upgrade)
    s = sensitivity(seen)
    expect(sorted(s) == off, f"Upgrade Firmware: both buttons dimmed to the end: {s}")
    # A value event for each of the sample image's 50 records, and one as the bar goes back.
    values = [t for t, src, _, _ in seen
              if src == bar and t == "object:property-change:accessible-value"]
    expect(len(values) >= 50, f"the bar tells its value as it moves: {len(values)} events")
    expect(said(seen) == [SAID_UPGRADE], f"announced: {said(seen)}")
    if failures:
        raise Failed(f"{len(failures)} checks failed")


if __name__ == "__main__":
    try:
        if sys.argv[1:] == ["--check"]:
            check()
        elif len(sys.argv) == 2:
            started = time.monotonic()
            try:
                run_desktop(sys.argv[1])
            except NoDisplay:  # once more, on a fresh X server: one under load may not answer
                run_desktop(sys.argv[1])
            print(f"passed in {time.monotonic() - started:.1f} s")
        else:
            raise Failed(__doc__.strip().splitlines()[2].strip())
    except Failed as e:
        print(f"atspi_window: {e}", file=sys.stderr)
        sys.exit(1)
