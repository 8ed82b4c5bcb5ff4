#!/usr/bin/python3
"""quorvane-demo's upgrade, whole and stopped halfway by SIGTERM, on a private system bus with a
mock logind, then with no system bus at all: the inhibitor (sleep and shutdown) held while it runs
and released after, as its history line says; the stopped demo ends on its own, as a closed
window does. Everything it starts (the bus, the mock, the demo) is its own child, ended when it
ends, however it ends."""
import ctypes
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

import dbus
import dbusmock

DEMO = sys.argv[1]
HELD = {("sleep:idle:shutdown", "quorvane", "Updating the Tarvex's firmware", "block")}
LIBC = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1
BUS_CONFIG = """<busconfig><type>system</type><keep_umask/><listen>unix:dir={dir}</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
  </policy>
</busconfig>
"""


def child(argv, **kwargs):
    """A process that ends with this one, even when this one is killed."""
    return subprocess.Popen(argv, preexec_fn=lambda: LIBC.prctl(PR_SET_PDEATHSIG, signal.SIGTERM),
                            **kwargs)


def stop(process):
    if process is not None and process.poll() is None:
        process.kill()
        process.wait()


def run(state, scene, watch=lambda: set()):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_STATE_HOME=state,
               QUORVANE_DEMO_SELF_DRIVE="1")
    demo, seen = child([DEMO], env=env, stdout=subprocess.PIPE, text=True), set()
    try:
        for shown in demo.stdout:  # the bar's progress; the stopped run is ended at its middle
            seen |= watch()
            if scene == "stopped" and shown.strip() == "progress 50%":
                demo.send_signal(signal.SIGTERM)
        demo.wait(30)
    finally:
        stop(demo)
    assert demo.returncode == (0 if scene == "whole" else 1), f"{scene}: status {demo.returncode}"
    with open(os.path.join(state, "quorvane", "history.jsonl"), encoding="utf-8") as f:
        return seen, json.loads(f.read().splitlines()[-1])


with tempfile.TemporaryDirectory() as state:
    config = os.path.join(state, "system-bus.conf")
    with open(config, "w", encoding="utf-8") as f:
        f.write(BUS_CONFIG.format(dir=state))
    bus = child(["dbus-daemon", "--nofork", "--config-file=" + config, "--print-address=1"],
                stdout=subprocess.PIPE, text=True)
    mock = None
    try:
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = bus.stdout.readline().strip()
        mock = child([sys.executable, "-m", "dbusmock", "--system", "--template", "logind"],
                     stdout=subprocess.DEVNULL)
        dbusmock.DBusTestCase.wait_for_bus_object("org.freedesktop.login1",
                                                  "/org/freedesktop/login1", system_bus=True)
        login1 = dbus.SystemBus().get_object("org.freedesktop.login1", "/org/freedesktop/login1")
        manager = dbus.Interface(login1, "org.freedesktop.login1.Manager")
        def listed():
            return {tuple(str(field) for field in i[:4]) for i in manager.ListInhibitors()}
        for scene in ("whole", "stopped"):
            seen, line = run(state, scene, listed)
            assert seen == HELD and line["sleep_held_off"] is True, (scene, seen, line)
            end = time.monotonic() + 2  # logind drops it once the program closes its descriptor
            while listed() and time.monotonic() < end:
                time.sleep(0.01)
            assert not listed(), f"{scene}: the inhibitor outlived the command"
            print(f"{scene}: held while it ran, released after")
    finally:
        stop(mock)
        stop(bus)

with tempfile.TemporaryDirectory() as state:
    os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + os.path.join(state, "no-bus")
    _, line = run(state, "whole")
    assert line["sleep_held_off"] is False, line
    print("no system bus: the upgrade completed, the history says sleep was not held off")
