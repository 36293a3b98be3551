#!/usr/bin/env python3
"""capmeter-cli run as a user or a script would run it.

Usage: cli_e2e.py CAPMETER_CLI CASE [STAND_IN_LIBRARY | LOCALES | USB_CHIP_EMULATOR]
"""
import csv
import datetime
import io
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import waits  # noqa: E402

CLI = sys.argv[1]
CASE = sys.argv[2]


def run(*args, env=None):
    # A host starved for longer than the simulated buffers hold (66 ms at
    # 1 MS/s) pauses the chip's stream, and the reading says so and fails;
    # that is the machine, not the program, so up to three runs. A fault of
    # the program fails every time.
    for attempt in range(3):
        result = waits.run([CLI, *args], env=env)
        if result.returncode != 1 or "the sample stream paused" not in result.stdout + result.stderr:
            return result
        print(f"run {attempt + 1}: the stream paused; again", file=sys.stderr)
    return result


def fail(message, result=None):
    if result is not None:
        message += f"\n--- exit {result.returncode}\n--- stdout\n{result.stdout}--- stderr\n{result.stderr}"
    print("FAIL:", message)
    sys.exit(1)


def without_timing_line(err):
    # Auto timing says once what it chose; the rest is what a test looks at.
    return [line for line in err.splitlines() if not line.startswith("capmeter-cli: timing ")]


def expect_exit(result, code):
    if result.returncode != code:
        fail(f"exit status {result.returncode}, expected {code}", result)


def measure_csv():
    began = datetime.datetime.now(datetime.timezone.utc)
    result = run("measure", "--simulate", "--count", "5", "--format", "csv")
    ended = datetime.datetime.now(datetime.timezone.utc)
    expect_exit(result, 0)
    rows = list(csv.DictReader(io.StringIO(result.stdout)))
    if len(rows) != 5:
        fail(f"{len(rows)} rows, expected 5", result)
    # Each reading's end in UTC, to the millisecond, in the order taken.
    times = [datetime.datetime.strptime(row["time"], "%Y-%m-%dT%H:%M:%S.%f%z") for row in rows]
    if not all(len(row["time"]) == 24 for row in rows) or times != sorted(times) or \
            times[0] < began - datetime.timedelta(milliseconds=1) or times[-1] > ended:
        fail(f"times {[row['time'] for row in rows]} not within {began}..{ended}", result)
    for number, row in enumerate(rows, 1):
        if int(row["index"]) != number or row["outcome"] != "ok" or row["microfarads"] != "":
            fail(f"row {number}: {row}", result)
        # 1.1 x 100k x 4.7u; loose, for a busy machine and a sanitizer build.
        if abs(float(row["seconds"]) - 0.517) > 0.05:
            fail(f"row {number}: time {row['seconds']}", result)
    if "Readings: 5 ok" not in result.stderr:
        fail("no summary on standard error", result)


def measure_json():
    result = run("measure", "--simulate", "--timing", "poll", "--count", "3", "--format", "json",
                 "--slope", "9.0909",
                 "--latency", "125u")
    expect_exit(result, 0)
    document = json.loads(result.stdout)
    readings = document["readings"]
    if [r["index"] for r in readings] != [1, 2, 3] or any(r["outcome"] != "ok" for r in readings):
        fail("readings", result)
    summary = document["summary"]
    # Real time on a shared machine: a busy core makes a reading late, so only
    # the magnitudes are checked here; the unit tests check the figures.
    if summary["ok"] != 3 or abs(summary["microfarads"]["mean"] - 4.7) > 0.1:
        fail("summary", result)
    if not 100e-6 < summary["dither_poll_period_seconds"] < 5e-3:
        fail("poll period", result)


def measure_stream():
    # 10 nF at 100 kOhm: a 1.1 ms charge, which polls 1 ms apart would miss
    # by up to a millisecond; counted samples hold it to 1 %.
    result = run("measure", "--simulate", "--latency", "1m", "--capacitance", "10n", "--slope",
                 "9.0909", "--count", "5", "--timing", "stream", "--format", "json")
    expect_exit(result, 0)
    document = json.loads(result.stdout)
    farads = [r["microfarads"] for r in document["readings"]]
    if len(farads) != 5 or any(abs(f - 0.01) > 0.0001 for f in farads):
        fail(f"readings {farads}", result)
    if document["summary"]["timing"] != "stream":
        fail("the summary does not say stream", result)


def check_clock_jitter():
    # The simulated clock's jitter reaches the chip; the verdict only informs
    # without --timing stream. A short charge keeps it quick.
    result = run("check", "--simulate", "--capacitance", "10n", "--clock-jitter", "0.05")
    expect_exit(result, 0)
    if not re.search(r"^note  The stream cannot be trusted for timing: ", result.stdout, re.M):
        fail("the jittery stream was trusted", result)


def measure_to_a_file():
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "readings.csv")
        result = run("measure", "--simulate", "--capacitance", "10n", "--count", "3", "--format",
                     "csv", "--output", path)
        expect_exit(result, 0)
        with open(path, newline="") as file:
            rows = list(csv.DictReader(file))
        if len(rows) != 3 or result.stdout:
            fail("readings not (only) in the file", result)
        # The progress line is for a person at a terminal, not for a log.
        if "reading 3 of 3" in result.stderr:
            fail("a progress line where no terminal shows it", result)


def write_failure():
    # A full disk, on standard output and on --output: one line saying so,
    # and a failure.
    with open("/dev/full", "w") as full:
        to_stdout = waits.run([CLI, "measure", "--simulate", "--count", "3", "--format", "csv"],
                              stdout=full, stderr=subprocess.PIPE, capture_output=False)
    to_file = run("measure", "--simulate", "--count", "3", "--format", "csv", "--output",
                  "/dev/full")
    for result, name in ((to_stdout, "standard output"), (to_file, "/dev/full")):
        result.stdout = result.stdout or ""
        expect_exit(result, 1)
        lines = without_timing_line(result.stderr)
        if len(lines) != 1 or name not in lines[0] or os.strerror(28) not in lines[0]:
            fail(f"not one line naming {name} and why", result)
    # An output that cannot even be opened is a failed output too, not a
    # bad command line.
    for option in ("--output", "--trace"):
        result = run("measure", "--simulate", option, "/nonexistent-folder/out")
        expect_exit(result, 1)
        if "/nonexistent-folder/out" not in result.stderr:
            fail(f"{option}: the file is not named", result)


def closed_pipe():
    # A reader that goes away ends the series at once, quietly, and the
    # device is let go.
    with tempfile.TemporaryDirectory() as directory:
        trace = os.path.join(directory, "trace.txt")
        began = time.monotonic()
        process = subprocess.Popen(
            [CLI, "measure", "--simulate", "--count", "1000", "--interval", "0.01", "--format",
             "csv", "--trace", trace], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        head = [process.stdout.readline() for _ in range(2)]
        process.stdout.close()
        err = process.stderr.read().decode()
        code = waits.ended(process, "exit", "the program to end after its reader went")[0]
        took = time.monotonic() - began
        result = subprocess.CompletedProcess(process.args, code, b"".join(head).decode(), err)
        expect_exit(result, 1)
        if took > 2.0 or without_timing_line(err):
            fail(f"took {took:.1f} s, or said something", result)
        with open(trace) as file:
            lines = file.read().splitlines()
        if not lines[-2].endswith("FT_SetBitMode mask=0x00 enable=0x00 -> 0") or \
                not lines[-1].endswith("FT_Close -> 0"):
            fail("the device was not let go:\n" + "\n".join(lines[-3:]))


def table_in_locale(locales):
    if not os.path.isdir(os.path.join(locales, "de_DE.UTF-8")):
        print("SKIP: no de_DE.UTF-8 test locale")
        sys.exit(77)
    env = dict(os.environ, LOCPATH=locales, LC_ALL="de_DE.UTF-8")
    result = run("measure", "--simulate", "--count", "2", "--slope", "9.0909", env=env)
    expect_exit(result, 0)
    # The table speaks the user's locale; m is read with a period all the same.
    if not re.search(r"^1 +0,5\d+ +[0-9,E-]+ +4,\d+ +ok$", result.stdout, re.M):
        fail("no decimal comma in the table", result)
    result = run("measure", "--simulate", "--format", "csv", env=env)
    if not re.search(r"^1,0\.5\d+,,ok,[-0-9T:.]+Z,[0-9.e-]+,$", result.stdout, re.M):
        fail("CSV must keep the period", result)


def calibrate():
    # m = 1 / (1.1 x 100 kOhm) = 9.0909 uF/s; b about 0. The readings run on
    # the real clock, and a core taken away for a few milliseconds makes some
    # of them late; a wrong fit is wrong every time, so up to three runs.
    for attempt in range(3):
        result = run("calibrate", "--simulate", "--yes", "1u", "10u")
        expect_exit(result, 0)
        if "Connect" in result.stdout:
            fail("--yes still prompted", result)
        m = re.search(r"^  m = (\S+) µF/s$", result.stdout, re.M)
        b = re.search(r"^  b = (\S+) µF$", result.stdout, re.M)
        if not m or not b:
            fail("no m or b", result)
        if abs(float(m.group(1)) - 9.0909) <= 0.05 and abs(float(b.group(1))) <= 0.05:
            return
        print(f"run {attempt + 1}: m = {m.group(1)}, b = {b.group(1)}", file=sys.stderr)
    fail(f"m = {m.group(1)}, b = {b.group(1)} in three runs", result)


def calibrate_saves_at_once():
    # Two programs saving at the same moment, twenty times: each line and each
    # save must be in the file every time, and the file whole.
    with tempfile.TemporaryDirectory() as config:
        env = dict(os.environ, XDG_CONFIG_HOME=config)
        path = os.path.join(config, "capmeter", "calibrations.json")
        for round_number in range(1, 21):
            runs = [subprocess.Popen([CLI, "calibrate", "--simulate", "--chips", "2", "--serial",
                                      serial, "--resistance", "10k", "--timing", "poll",
                                      "--count", "1", "--force", "--yes", "--save", "1u", "2u"],
                                     env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     text=True)
                    for serial in ("SIM-1", "SIM-2")]
            for process in runs:
                _, err = process.communicate(timeout=waits.limit("command"))
                if process.returncode != 0:
                    fail(f"round {round_number}: exit {process.returncode}: {err}")
            with open(path, encoding="utf-8") as file:
                text = file.read()
            try:
                kept = json.loads(text)
            except ValueError as error:
                fail(f"round {round_number}: the file is no JSON ({error}):\n{text}")
            saves = sorted((line["chip"], line["saves"]) for line in kept["lines"])
            if saves != [("SIM-1", round_number), ("SIM-2", round_number)]:
                fail(f"round {round_number}: lines and saves {saves}:\n{text}")


def calibrate_prompts():
    result = waits.run([CLI, "calibrate", "--simulate", "--count", "2", "1u", "2u"], input="\n\n")
    expect_exit(result, 0)
    prompts = re.findall(r"^Connect (\S+) and press Enter$", result.stdout, re.M)
    if prompts != ["1u", "2u"]:
        fail(f"prompts {prompts}", result)


def check_without_library():
    result = run("check")
    expect_exit(result, 1)
    first = result.stdout.splitlines()[0]
    if not first.startswith("FAIL  Driver library: could not load libftd2xx.so"):
        fail("the first line does not name the library", result)
    listed = run("list")
    expect_exit(listed, 1)
    if listed.stdout or not listed.stderr.startswith(
            "capmeter-cli: no chip can be listed: the driver library could not load libftd2xx.so"):
        fail("list does not say that there is no library", listed)


def trace_calls(stderr):
    """The operations of a trace on standard error, with their arguments."""
    return [line.split(" ", 1)[1] for line in stderr.splitlines() if line[:1].isdigit()]


def opens_of(result):
    return [call for call in trace_calls(result.stderr) if call.startswith("FT_Open")]


def chooses_by_serial(command, serials, prefix=()):
    """The list names every chip; --serial opens the second and nothing else;
    a serial that is not there opens nothing and names those that are."""
    def cli(*args):
        return waits.run([*prefix, CLI, *args])
    listed = cli("list", *command, "--format", "json")
    expect_exit(listed, 0)
    chips = json.loads(listed.stdout)
    if [chip["serial_number"] for chip in chips] != serials or \
            [chip["index"] for chip in chips] != list(range(len(serials))):
        fail(f"the list {chips}", listed)
    chosen = cli("measure", *command, "--serial", serials[1], "--trace", "-")
    # The stand-in's pins read D1 low at once, a charge below the range: 1.
    if chosen.returncode not in (0, 1) or "Readings: " not in chosen.stdout + chosen.stderr:
        fail("no reading from the chip chosen", chosen)
    if [call.split(" -> ")[0] for call in opens_of(chosen)] != \
            [f'FT_OpenEx serial="{serials[1]}" by=1']:
        fail("not the second chip alone opened by its serial number", chosen)
    missing = cli("measure", *command, "--serial", "NOT-THERE", "--trace", "-")
    expect_exit(missing, 1)
    named = ", ".join(f"{i} {serial}" for i, serial in enumerate(serials))
    if opens_of(missing) or f'could not open the chip with serial number "NOT-THERE": the ' \
            f'driver sees {len(serials)} chips: {named}.' not in missing.stderr:
        fail("a serial that is not there", missing)


def list_simulated():
    chooses_by_serial(["--simulate", "--chips", "3"], ["SIM-1", "SIM-2", "SIM-3"])
    table = run("list", "--simulate", "--chips", "3")
    expect_exit(table, 0)
    if len(table.stdout.splitlines()) != 4 or \
            not re.search(r"^2 +SIM-3 +Simulated capacitance meter +simulated +no$", table.stdout,
                          re.M):
        fail("the table", table)
    rows = list(csv.DictReader(io.StringIO(run("list", "--simulate", "--format", "csv").stdout)))
    if rows != [{"index": "0", "serial_number": "SIM-1", "description":
                 "Simulated capacitance meter", "location": "simulated", "open": "false"}]:
        fail(f"the CSV rows {rows}")


def check_with_library(stand_in):
    # The stand-in under the name the program looks for, found by the loader.
    with tempfile.TemporaryDirectory() as directory:
        os.symlink(stand_in, os.path.join(directory, "libftd2xx.so"))
        env = dict(os.environ, LD_LIBRARY_PATH=directory)
        result = run("check", "--trace", "-", env=env)
        expect_exit(result, 0)
        first = result.stdout.splitlines()[0]
        if not first.startswith("ok    Driver library: loaded libftd2xx.so (" + directory):
            fail("the loaded file is not named", result)
        if "FT_Open index=0 -> 0" not in result.stderr:
            fail("no trace on standard error", result)
        os.environ["LD_LIBRARY_PATH"] = directory
        chooses_by_serial([], ["CM-A", "CM-B"])


# The direct USB driver, with the emulated chip (tests/usb/) on the bus.
USB = ["--usb", "1234:5678"]


def on_emulated_chip(emulator, *args, unplug_after_reads=None):
    chip = [] if unplug_after_reads is None else ["--unplug-after-reads", str(unplug_after_reads)]
    return waits.run([emulator, *chip, CLI, *args])


def usb_list(emulator):
    chooses_by_serial(USB, ["CM-USB-1", "CM-USB-2"], prefix=[emulator, "--chips", "2"])
    table = on_emulated_chip(emulator, "list", *USB)
    if not re.search(r"^0 +CM-USB-1 +Capmeter emulated chip +bus 1, port 1 +no$", table.stdout,
                     re.M):
        fail("the table", table)
    nothing = on_emulated_chip(emulator, "list", "--usb", "1234:9999")
    expect_exit(nothing, 1)
    if nothing.stdout or not nothing.stderr.startswith(
            "capmeter-cli: no chip found: the driver works but sees nothing plugged in"):
        fail("list with nothing there", nothing)


def usb_check(emulator):
    result = on_emulated_chip(emulator, "check", *USB)
    expect_exit(result, 0)
    lines = result.stdout.splitlines()
    # The stream step only informs without --timing stream: a note is no failure.
    if not all(line.startswith(("ok    ", "note  ")) for line in lines[:-1]):
        fail("a step did not pass", result)
    for said in (r"^ok    Driver library: libusb \d+\.\d+\.\d+", r"^ok    1 device with ID 1234:5678",
                 r"^ok    Device node /dev/bus/usb/001/002",
                 r"^ok    Detached the kernel driver emulated_serial"):
        if not re.search(said, result.stdout, re.M):
            fail(f"no line {said}", result)


def usb_measure(emulator):
    result = on_emulated_chip(emulator, "measure", *USB, "--count", "3", "--format", "csv")
    expect_exit(result, 0)
    rows = list(csv.DictReader(io.StringIO(result.stdout)))
    if len(rows) != 3 or any(row["outcome"] != "ok" for row in rows):
        fail("not three readings", result)
    # The emulated timer: 1.1 x 100k x 4.7u on the real clock, each poll a
    # round trip through the emulated bus.
    for row in rows:
        if abs(float(row["seconds"]) - 0.517) > 0.05:
            fail(f"time {row['seconds']}", result)


def usb_no_device(emulator):
    # The emulated chip is 1234:5678; ask for another.
    result = on_emulated_chip(emulator, "check", "--usb", "1234:9999")
    expect_exit(result, 1)
    if not re.search(r"^FAIL  0 devices with ID 1234:9999; present: 1234:5678", result.stdout,
                     re.M):
        fail("the IDs present are not named", result)


def usb_unplugged_mid_charge(emulator):
    result = on_emulated_chip(emulator, "measure", *USB, "--format", "csv", "--trace", "-",
                              unplug_after_reads=5)
    expect_exit(result, 1)
    rows = list(csv.DictReader(io.StringIO(result.stdout)))
    if [row["outcome"] for row in rows] != ["read error"]:
        fail("the reading is not a read error", result)
    calls = [line.split(" ", 1)[1] for line in result.stderr.splitlines()
             if line[:1].isdigit()]
    failed = [i for i, call in enumerate(calls) if "(device gone)" in call]
    if not failed or not calls[failed[0]].startswith("FT_GetBitMode -> 1004 "):
        fail("no pin read failing as a device that is gone", result)
    # After the failed read only the letting go: no further measurement call.
    after = [call.split(" ")[0] for call in calls[failed[0] + 1:]]
    if after != ["FT_SetBitMode", "FT_Close"]:
        fail(f"calls after the failure: {after}", result)


def usage():
    for args in (["measure", "--count", "0"], ["calibrate"], ["measure", "--capacitance", "1u"],
                 ["calibrate", "--simulate", "--yes", "1u"], []):
        result = run(*args)
        expect_exit(result, 2)
    result = run("calibrate", "--simulate", "--yes", "1u", "1000n")
    expect_exit(result, 2)
    for command in ("check", "measure", "calibrate"):
        result = run(command, "--help")
        expect_exit(result, 0)
        if f"Usage: capmeter-cli {command}" not in result.stdout:
            fail(f"{command} --help", result)


def stopped_by_a_signal(signal_number, code, ignored=None):
    # A signal the program was started with ignored (nohup) stays ignored.
    def ignore():
        if ignored is not None:
            signal.signal(ignored, signal.SIG_IGN)
    with tempfile.TemporaryDirectory() as directory:
        trace = os.path.join(directory, "trace.txt")
        # 40 uF: a 4.4 s charge, far longer than the wait below.
        process = subprocess.Popen(
            [CLI, "measure", "--simulate", "--timing", "poll", "--capacitance", "40u", "--latency",
             "1m", "--count", "3", "--trace", trace], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
            preexec_fn=ignore)
        time.sleep(1.5)
        if ignored is not None:
            process.send_signal(ignored)
            time.sleep(0.5)
            if process.poll() is not None:
                fail(f"an ignored {ignored.name} ended the program")
        began = time.monotonic()
        process.send_signal(signal_number)
        out, err = process.communicate(timeout=waits.limit("exit"))
        took = time.monotonic() - began
        result = subprocess.CompletedProcess(process.args, process.returncode, out, err)
        expect_exit(result, code)
        if took > 1.0:
            fail(f"took {took:.1f} s to stop", result)
        if f"stopped by {signal_number.name} after 0 of 3" not in out:
            fail("no summary", result)
        with open(trace) as file:
            lines = file.read().splitlines()
        if not re.search(r"FT_GetBitMode -> 0 pins=0x37 x\d+$", lines[-3]):
            fail("the abandoned reading's polls are missing:\n" + "\n".join(lines[-3:]))
        if not lines[-2].endswith("FT_SetBitMode mask=0x00 enable=0x00 -> 0") or \
                not lines[-1].endswith("FT_Close -> 0"):
            fail("the device was not let go:\n" + "\n".join(lines[-3:]))


CASES = {
    "measure_csv": measure_csv,
    "measure_json": measure_json,
    "measure_to_a_file": measure_to_a_file,
    "measure_stream": measure_stream,
    "check_clock_jitter": check_clock_jitter,
    "calibrate": calibrate,
    "calibrate_prompts": calibrate_prompts,
    "calibrate_saves_at_once": calibrate_saves_at_once,
    "check_without_library": check_without_library,
    "list_simulated": list_simulated,
    "usb_list": lambda: usb_list(sys.argv[3]),
    "check_with_library": lambda: check_with_library(sys.argv[3]),
    "table_in_locale": lambda: table_in_locale(sys.argv[3]),
    "usage": usage,
    "usb_check": lambda: usb_check(sys.argv[3]),
    "usb_measure": lambda: usb_measure(sys.argv[3]),
    "usb_no_device": lambda: usb_no_device(sys.argv[3]),
    "usb_unplugged_mid_charge": lambda: usb_unplugged_mid_charge(sys.argv[3]),
    "sigint": lambda: stopped_by_a_signal(signal.SIGINT, 130),
    "sigterm": lambda: stopped_by_a_signal(signal.SIGTERM, 143),
    "sighup": lambda: stopped_by_a_signal(signal.SIGHUP, 129),
    "sigterm_with_sighup_ignored": lambda: stopped_by_a_signal(signal.SIGTERM, 143, signal.SIGHUP),
    "write_failure": write_failure,
    "closed_pipe": closed_pipe,
}

CASES[CASE]()
print("PASS:", CASE)
