#!/usr/bin/python3
"""quorvane-demo driving itself offscreen on a real clock, one row per run: the image it was given
(or its sample), where its history lives, the exit status and the lines it must and must not
print; the last history line names the image sent and its SHA-256."""
import hashlib
import json
import os
import subprocess
import sys
import tempfile

DEMO = sys.argv[1]
ROWS = [  # name, image bytes (None: the sample), history place, status, printed, never printed
    ("the sample", None, "dir", 0,
     "upgrade finished: device back in its application firmware, 50 records received", None),
    ("an image named, non-ASCII", bytes(range(120)), "dir", 0,
     "upgrade finished: device back in its application firmware, 3 records received", None),
    ("a bad image named", bytes(41), "dir", 1,
     "is 41 bytes, not a whole number of 40-byte records.", 'button: "Switching to bootloader..."'),
    ("the history cannot be written", None, "file", 0,
     "upgrade finished: device back in its application firmware, 50 records received", None),
]

failed = False
for name, image, history, status, printed, never in ROWS:
    with tempfile.TemporaryDirectory() as tmp:
        state, args = os.path.join(tmp, "state"), [DEMO]
        if history == "file":
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
        problems += [f"printed {never!r}"] if never and never in run.stdout else []
        if history == "dir" and run.returncode == 0:
            with open(os.path.join(state, "quorvane", "history.jsonl"), encoding="utf-8") as f:
                sent = json.loads(f.read().splitlines()[-1])["image"]
            with open(sent["path"], "rb") as f:
                if len(args) > 1 and (sent["path"] != args[1] or
                                      sent["sha256"] != hashlib.sha256(f.read()).hexdigest()):
                    problems.append(f"history names {sent}")
        print(f"{name}: {'; '.join(problems) or 'as expected'}")
        if problems:
            print(run.stdout, run.stderr)
            failed = True
sys.exit(1 if failed else 0)
