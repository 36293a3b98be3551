"""The end-to-end tests' waits in Python, as tests/e2e/waits.sh has them for
the shell: the limit of each kind of wait from tests/e2e/limits, a line for
each wait in $CAPMETER_WAIT_LOG (seconds taken, limit, what) when it is set,
and a failed wait that says what it waited for, how long, and what the
program said so far."""
import os
import pathlib
import re
import select
import subprocess
import sys
import time

LIMITS = pathlib.Path(__file__).with_name("limits")


def limit(kind):
    """The limit in seconds of the kind of wait `kind`."""
    for line in LIMITS.read_text().splitlines():
        fields = line.split()
        if fields and fields[0] == kind:
            return float(fields[1])
    raise KeyError(f"no limit for {kind!r} in {LIMITS}")


def log(took, kind, what):
    path = os.environ.get("CAPMETER_WAIT_LOG")
    if path:
        with open(path, "a") as file:
            file.write(f"{took:.1f}\t{limit(kind):g}\t{pathlib.Path(sys.argv[0]).stem} "
                       f"{' '.join(sys.argv[2:3])}: {what}\n")


def text(said):
    return said.decode(errors="replace") if isinstance(said, bytes) else said or ""


def failed(took, kind, what, said=""):
    """Ends the test: what it waited for, how long, and what the program said."""
    log(took, kind, what + " (timed out)")
    print(f"FAIL: waited {took:.1f} s of {limit(kind):g} s ({kind!r} in tests/e2e/limits) for: {what}")
    if said:
        print("the program's standard error so far:")
        print("".join(f"  | {line}\n" for line in said.splitlines()[-40:]), end="")
    sys.exit(1)


def until(condition, kind, what, said=lambda: ""):
    """Checks `condition` every 0.1 s up to the limit of `kind`; returns when
    the check that held started, its own time not counted."""
    began = time.monotonic()
    while True:
        started = time.monotonic()
        if condition():
            log(started - began, kind, what)
            return started
        if started - began > limit(kind):
            failed(started - began, kind, what, said())
        time.sleep(0.1)


def line(process, pattern, kind, what):
    """Reads `process`'s standard error, a pipe of bytes, until a line matches
    `pattern`; returns the match and all it read, which may go past that line."""
    began = time.monotonic()
    said = b""
    while True:
        so_far = text(said)
        for whole in so_far.splitlines()[:so_far.count("\n")]:
            found = re.search(pattern, whole)
            if found:
                log(time.monotonic() - began, kind, what)
                return found, so_far
        left = began + limit(kind) - time.monotonic()
        if left <= 0 or not select.select([process.stderr], [], [], left)[0]:
            failed(time.monotonic() - began, kind, what, so_far)
        more = os.read(process.stderr.fileno(), 65536)
        if not more:
            failed(time.monotonic() - began, kind, what + ": the program ended first", so_far)
        said += more


def ended(process, kind, what, said=""):
    """Waits for `process` to end; returns its status and the rest of its
    standard error, decoded."""
    began = time.monotonic()
    try:
        rest = process.communicate(timeout=limit(kind))[1]
    except subprocess.TimeoutExpired:
        process.kill()
        failed(time.monotonic() - began, kind, what, said + text(process.communicate()[1]))
    log(time.monotonic() - began, kind, what)
    return process.returncode, text(rest)


def run(args, kind="command", what=None, **options):
    """subprocess.run, its output captured as text, ended after the limit of
    `kind`."""
    what = what or "the end of " + " ".join(pathlib.Path(a).name if os.sep in a else a
                                            for a in map(str, args))
    options.setdefault("capture_output", True)
    began = time.monotonic()
    try:
        result = subprocess.run(args, text=True, timeout=limit(kind), **options)
    except subprocess.TimeoutExpired as timed_out:
        failed(time.monotonic() - began, kind, what, text(timed_out.stderr))
    log(time.monotonic() - began, kind, what)
    return result
