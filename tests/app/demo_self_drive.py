#!/usr/bin/python3
"""quorvane-demo driving itself offscreen on a real clock, one row per run: the image it was given
(or its sample), whether its history can be written, the exit status and the line it must print."""
import os
import subprocess
import sys
import tempfile

DEMO = sys.argv[1]
DONE = "upgrade finished: device back in its application firmware, {} records received"
ROWS = [  # name, image bytes (None: the sample), history writable, status, printed
    ("the sample", None, True, 0, DONE.format(50)),
    ("an image named, non-ASCII", bytes(range(120)), True, 0, DONE.format(3)),
    ("a bad image named", bytes(41), True, 1,
     "is 41 bytes, not a whole number of 40-byte records."),
    ("the history cannot be written", None, False, 0, DONE.format(50)),
]

failed = False
for name, image, writable, status, printed in ROWS:
    with tempfile.TemporaryDirectory() as tmp:
        state, args = os.path.join(tmp, "state"), [DEMO]
        if not writable:  # its folder is a file
            open(state, "w", encoding="utf-8").close()
        if image is not None:
            args.append(os.path.join(tmp, "Bild-ä.bin"))
            with open(args[1], "wb") as f:
                f.write(image)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", QUORVANE_DEMO_SELF_DRIVE="1",
                   XDG_STATE_HOME=state)
        run = subprocess.run(args, env=env, capture_output=True, text=True, timeout=60)
        problems = [f"status {run.returncode}"] if run.returncode != status else []
        problems += [f"missing {printed!r}"] if printed not in run.stdout else []
        print(f"{name}: {'; '.join(problems) or 'as expected'}")
        if problems:
            print(run.stdout, run.stderr)
            failed = True
sys.exit(1 if failed else 0)
