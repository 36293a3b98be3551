#!/usr/bin/env python3
"""capmeter-cli serve over VXI-11, as lab clients find and drive it:
pyvisa-py with TCPIP::127.0.0.1::inst0::INSTR, lxi-tools, raw RPC calls that
a hostile peer might send, the rpcbind and mDNS entries withdrawn at SIGTERM,
and the allow-list from a second network namespace.

Usage: vxi11_e2e.py CAPMETER_CLI CASE
A case whose facility is absent (rpcbind, avahi-daemon, root for
namespaces) prints "skipped: WHY" and succeeds.
"""
import atexit
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
import waits  # noqa: E402

CLI = sys.argv[1]
CASE = sys.argv[2]
CORE, ABORT = 0x0607AF, 0x0607B0
ANSWER = waits.limit("answer")


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def skip(why):
    print("skipped:", why)
    sys.exit(0)


def expect(condition, message):
    if not condition:
        fail(message)


def as_user():
    # The server as an ordinary user, as on a lab PC; root only drives it.
    if os.geteuid() == 0 and shutil.which("setpriv"):
        return ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
    return []


class Server:
    """capmeter-cli serve, its ports read from its standard error."""

    def __init__(self, *args, listen="127.0.0.1:0", wrapper=()):
        self.process = subprocess.Popen(
            [*wrapper, *as_user(), CLI, "serve", "--simulate", "--listen", listen, *args],
            stderr=subprocess.PIPE)
        atexit.register(lambda: self.process.poll() is None and self.process.kill())
        found, self.said = waits.line(self.process, r"listening on (\S+):(\d+)$", "listening",
                                      "the server's listening line")
        self.port = int(found.group(2))
        self.core = None
        found = re.search(r"VXI-11 core channel on port (\d+), abort channel on port (\d+)",
                          self.said)
        if found:
            self.core, self.abort = int(found.group(1)), int(found.group(2))

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        status, rest = waits.ended(self.process, "exit", "the server to end after SIGTERM",
                                   self.said)
        return status, self.said + rest


def rpcbind_runs():
    return subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True).returncode == 0 \
        if shutil.which("rpcinfo") else False


def registered(port=None):
    """Whether rpcbind has the VXI-11 core program, on `port` if given."""
    listing = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True)
    return any(line.split()[:1] == ["395183"] and (port is None or line.split()[-1] == str(port))
               for line in listing.stdout.splitlines())


def until(condition, what, said=lambda: ""):
    """When the check that held started: its own time is not counted."""
    return waits.until(condition, "listening", what, said)


def registrations(server):
    """What a failed wait for the registration shows: the server's words and
    what rpcbind holds, as they are when it fails."""
    def said():
        listing = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True)
        return server.said + "rpcinfo -p 127.0.0.1:\n" + listing.stdout
    return said


# --- a small ONC RPC client, on the wire as the clients send it -------------

def opaque(data):
    return struct.pack(">I", len(data)) + data + b"\0" * (-len(data) % 4)


def ints(*values):
    return b"".join(struct.pack(">i", v) for v in values)


class Rpc:
    def __init__(self, port, host="127.0.0.1"):
        self.sock = socket.create_connection((host, port), timeout=ANSWER)
        self.xid = 0

    def send(self, program, procedure, args=b"", version=1, fragment_header=None):
        self.xid += 1
        record = struct.pack(">6I", self.xid, 0, 2, program, version, procedure) + \
            b"\0" * 16 + args
        header = fragment_header if fragment_header is not None else 0x80000000 | len(record)
        self.sock.sendall(struct.pack(">I", header) + record)

    def exactly(self, n):
        data = b""
        while len(data) < n:
            more = self.sock.recv(n - len(data))
            if not more:
                fail("the server closed the connection")
            data += more
        return data

    def reply(self):
        """The accept code and the results of the next reply."""
        header = struct.unpack(">I", self.exactly(4))[0]
        body = self.exactly(header & 0x7FFFFFFF)
        xid, kind, accepted, _, verifier_length, accept = struct.unpack(">6I", body[:24])
        expect(xid == self.xid and kind == 1 and accepted == 0 and verifier_length == 0,
               f"reply header {body[:24].hex()}")
        return accept, body[24:]

    def call(self, program, procedure, args=b"", **options):
        self.send(program, procedure, args, **options)
        return self.reply()


def results(data, count):
    return struct.unpack(f">{count}i", data[:4 * count])


def create_link(rpc):
    accept, data = rpc.call(CORE, 10, ints(7, 0, 0) + opaque(b"inst0"))
    error, link, abort_port, max_receive = results(data, 4)
    expect(accept == 0 and error == 0, f"create_link: {accept} {error}")
    return link, abort_port, max_receive


def write(rpc, link, text, end=True):
    accept, data = rpc.call(CORE, 11, ints(link, 10000, 0, 8 if end else 0) + opaque(text))
    expect(accept == 0, f"device_write accept {accept}")
    return results(data, 1)[0]


def read(rpc, link, size=65536):
    accept, data = rpc.call(CORE, 12, ints(link, size, 10000, 0, 0, 0))
    expect(accept == 0, f"device_read accept {accept}")
    error, reason, length = results(data, 3)
    return error, reason, data[12:12 + length]


# --- the cases ---------------------------------------------------------------

def visa_session():
    if not rpcbind_runs():
        skip("no rpcbind: pyvisa-py asks the portmapper for the VXI-11 port")
    import pyvisa
    # Polled: the transport is under test here, and a starved machine can
    # pause the simulated chip's stream.
    server = Server("--timing", "poll")
    until(lambda: registered(server.core), "registered with rpcbind", registrations(server))
    meter = pyvisa.ResourceManager("@py").open_resource(
        "TCPIP::127.0.0.1::inst0::INSTR", read_termination="\n", write_termination="\n",
        timeout=ANSWER * 1000)
    expect(meter.query("*IDN?").split(",")[:3] == ["capmeter", "capmeter-cli", "SIM-1"], "*IDN?")
    meter.write("CAL:SLOP 9.0909E-6")
    for _ in range(5):
        farads = float(meter.query("MEAS:CAP?"))
        expect(0.995 * 4.7e-6 < farads < 1.1 * 4.7e-6,
               f"MEAS:CAP? {farads}: {meter.query('SYST:ERR?')}")
    # A READ? of 100 readings (52 s) cleared as soon as it is under way: the
    # meter answers the next query long before those readings could end.
    meter.write("SAMP:COUN 100")
    meter.write("READ?")
    started = time.monotonic()
    meter.clear()
    expect(meter.query("*IDN?").startswith("capmeter,"), "*IDN? after the clear")
    expect(time.monotonic() - started < 20, "the clear did not stop the reading")
    error = meter.query("SYST:ERR?")
    expect(error.startswith('-410,"Query interrupted'), f"the reading abandoned: {error}")
    expect(meter.query("SYST:ERR?") == '0,"No error"', "SYST:ERR? at the end")
    expect(meter.read_stb() & 0x04 == 0, "EAV with an empty error queue")
    meter.close()
    status, said = server.stop()
    expect(status == 143, f"exit status {status}: {said}")


def lxi_tools():
    if not rpcbind_runs() or not shutil.which("lxi"):
        skip("no rpcbind or no lxi (Debian: rpcbind, lxi-tools)")
    # A meter killed outright leaves its registration, and another program
    # takes its port: the next meter must take the registration over.
    killed = Server()
    until(registered, "the first meter registered")
    killed.process.kill()
    killed.process.wait()
    squatter = socket.create_server(("127.0.0.1", killed.core))
    server = Server()
    squatter.close()
    until(lambda: registered(server.core), "registered with rpcbind in place of the killed",
          registrations(server))
    answer = waits.run(["lxi", "scpi", "-a", "127.0.0.1", "*IDN?"])
    expect(answer.stdout.startswith("capmeter,capmeter-cli,SIM-1,"), f"lxi scpi: {answer}")
    found = waits.run(["lxi", "discover"])
    expect('Found "capmeter,capmeter-cli,SIM-1,' in found.stdout, f"lxi discover: {found.stdout}")
    server.stop()


def wire():
    server = Server()
    rpc = Rpc(server.core)
    link, abort_port, max_receive = create_link(rpc)
    expect(abort_port == server.abort and max_receive == 16384, "create_link's results")
    # What a client may get wrong, each answered in RPC's terms, the
    # connection kept in step.
    for what, call, accept in [
        ("a name longer than the record", (CORE, 10, ints(7, 0, 0, 1000) + b"inst"), 4),
        ("a bool that is 2", (CORE, 10, ints(7, 2, 0) + opaque(b"inst0")), 4),
        ("a record beyond the limit", (CORE, 11, ints(link, 0, 0, 8) + opaque(b"x" * 20000)), 4),
        ("no such procedure", (CORE, 99), 3),
        ("the abort program on the core channel", (ABORT, 1, ints(link)), 1),
    ]:
        expect(rpc.call(*call)[0] == accept, what)
    accept, data = rpc.call(CORE, 10, ints(7, 0, 0) + opaque(b"inst0"), version=2)
    expect(accept == 2 and results(data, 2) == (1, 1), "version 2: the versions served")
    accept, data = rpc.call(CORE, 22, ints(link, 0, 0, 0, 1, 0, 0) + opaque(b""))
    expect(accept == 0 and results(data, 2) == (8, 0), "docmd: operation not supported")
    expect(rpc.call(CORE, 10, ints(7, 0, 0) + opaque(b"gpib0,5"))[1][:4] == ints(3),
           "another device than inst0")

    # An answer read in chunks: END with its last byte only.
    expect(write(rpc, link, b"*IDN?\n") == 0, "device_write")
    chunks = [read(rpc, link, 7) for _ in range(64)]
    ends = [i for i, (_, reason, _) in enumerate(chunks) if reason & 4]
    answer = b"".join(data for _, _, data in chunks[:ends[0] + 1])
    expect(answer.startswith(b"capmeter,capmeter-cli,SIM-1,") and answer.endswith(b"\n"),
           f"chunks {chunks[:ends[0] + 1]}")
    expect(all(reason == 1 and len(data) == 7 for _, reason, data in chunks[:ends[0]]),
           "REQCNT without END before the last chunk")

    # The lock across links.
    other = Rpc(server.core)
    other_link = create_link(other)[0]
    expect(rpc.call(CORE, 18, ints(link, 0, 0))[1] == ints(0), "lock")
    expect(write(other, other_link, b"*CLS\n") == 11, "a write while another link holds the lock")
    expect(other.call(CORE, 19, ints(other_link))[1] == ints(12), "unlock without the lock")
    expect(rpc.call(CORE, 19, ints(link))[1] == ints(0), "unlock")
    expect(write(other, other_link, b"*CLS\n") == 0, "a write once the lock is let go")

    # device_abort from the abort channel stops a reading that a device_read
    # waits for; the read answers "abort".
    write(rpc, link, b"CAL:SLOP 9.0909E-6;:SAMP:COUN 100\n")
    write(rpc, link, b"READ?\n")
    started = time.monotonic()
    rpc.send(CORE, 12, ints(link, 65536, 120000, 0, 0, 0))
    aborter = Rpc(abort_port)
    expect(aborter.call(ABORT, 1, ints(link))[1] == ints(0), "device_abort")
    accept, data = rpc.reply()
    expect(accept == 0 and results(data, 1) == (23,), f"the waiting read: {data[:8].hex()}")
    expect(time.monotonic() - started < 20, "the abort did not stop the reading")

    # A fragment that claims 2 GiB, then gone: the server holds none of it
    # and serves the next client.
    hostile = Rpc(server.core)
    hostile.send(CORE, 11, b"x" * 1000, fragment_header=0x7FFFFFFF)
    hostile.sock.close()
    fresh = Rpc(server.core)
    fresh_link = create_link(fresh)[0]
    write(fresh, fresh_link, b"*IDN?\n")
    expect(read(fresh, fresh_link)[2].startswith(b"capmeter,"), "served after the hostile peer")
    status, said = server.stop()
    expect(status == 143, f"exit status {status}: {said}")


def read_only():
    server = Server("--read-only", "--no-vxi11")
    expect(server.core is None, "a VXI-11 channel with --no-vxi11")
    with socket.create_connection(("127.0.0.1", server.port), timeout=ANSWER) as raw:
        raw.sendall(b"SAMP:COUN 3\nSAMP:COUN?\nSYST:ERR?\n")
        lines = raw.makefile()
        answers = lines.readline(), lines.readline()
    server.stop()
    expect(answers[0].strip() == "1" and answers[1].startswith('-203,"Command protected'),
           f"read-only: {answers}")


def withdrawn():
    if not rpcbind_runs():
        skip("no rpcbind")
    if subprocess.run(["avahi-daemon", "--check"], capture_output=True).returncode != 0 \
            if shutil.which("avahi-daemon") else True:
        skip("no avahi-daemon")
    server = Server("--allow", "192.0.2.0/24", listen="0.0.0.0:0")

    def browse():
        return waits.run(["avahi-browse", "-rtp", "_scpi-raw._tcp"]).stdout

    until(lambda: f";{server.port};" in browse(), "the announcement resolved")
    entry = next(line for line in browse().splitlines() if f";{server.port};" in line)
    for key in ['"txtvers=1"', '"Manufacturer=capmeter"', '"Model=capmeter-cli"',
                '"SerialNumber=SIM-1"', '"FirmwareVersion=']:
        expect(key in entry, f"{key} in {entry}")
    expect("capmeter\\032SIM-1" in entry, f"the serial in the name: {entry}")
    # A second meter with the same serial (both simulated): renamed as Avahi
    # asks, so both stay found.
    twin = Server("--no-vxi11", "--allow", "192.0.2.0/24", listen="0.0.0.0:0")
    until(lambda: f";{twin.port};" in browse(), "the twin announced")
    twin_entry = next(line for line in browse().splitlines() if f";{twin.port};" in line)
    expect("capmeter\\032SIM-1\\032\\0352" in twin_entry, f"the twin renamed: {twin_entry}")
    expect('announced as "capmeter SIM-1 #2"' in twin.stop()[1], "the rename said")
    until(registered, "registered with rpcbind")
    stopped = time.monotonic()
    server.stop()
    gone = until(lambda: f";{server.port};" not in browse() and not registered(),
                 "withdrawn from avahi and rpcbind")
    # How soon is a figure, not a limit: each look runs avahi-browse, which a
    # loaded machine slows down by itself.
    print(f"withdrawn {gone - stopped:.1f} s after SIGTERM")


def namespaces():
    if os.geteuid() != 0 or not shutil.which("ip"):
        skip("network namespaces need root and iproute2")
    tag = f"cm{os.getpid() % 100000}"
    server_ns, peer_ns = f"{tag}s", f"{tag}p"

    def ip(*args):
        subprocess.run(["ip", *args], check=True)

    def cleanup():
        for ns in (server_ns, peer_ns):
            pids = subprocess.run(["ip", "netns", "pids", ns], capture_output=True, text=True)
            for pid in pids.stdout.split():
                os.kill(int(pid), signal.SIGKILL)
            subprocess.run(["ip", "netns", "del", ns], capture_output=True)

    atexit.register(cleanup)
    for ns in (server_ns, peer_ns):
        ip("netns", "add", ns)
        ip("-n", ns, "link", "set", "lo", "up")
    ip("link", "add", f"{tag}a", "netns", server_ns, "type", "veth", "peer", "name", f"{tag}b",
       "netns", peer_ns)
    ip("-n", server_ns, "addr", "add", "10.77.0.1/24", "brd", "+", "dev", f"{tag}a")
    ip("-n", peer_ns, "addr", "add", "10.77.0.2/24", "brd", "+", "dev", f"{tag}b")
    ip("-n", peer_ns, "addr", "add", "10.77.0.3/24", "dev", f"{tag}b")
    ip("-n", server_ns, "link", "set", f"{tag}a", "up")
    ip("-n", peer_ns, "link", "set", f"{tag}b", "up")
    # The server's namespace gets an rpcbind of its own, on a /run of its own,
    # so broadcast discovery crosses the veth as on a lab network.
    rpcbind = shutil.which("rpcbind") or "/usr/sbin/rpcbind"
    script = ("mount -t tmpfs none /run && mkdir -p /run/rpcbind && "
              f"{{ {rpcbind} -w -f </dev/null >/dev/null 2>&1 & }} && "
              "for _ in $(seq 3000); do [ -S /run/rpcbind.sock ] && break; sleep 0.01; done && "
              'exec "$@"')
    wrapper = ["ip", "netns", "exec", server_ns, "unshare", "--mount", "sh", "-c", script, "sh"]
    server = Server("--allow", "10.77.0.2/32", listen="0.0.0.0:0", wrapper=wrapper)
    peer = ["ip", "netns", "exec", peer_ns]
    # *IDN? on the raw socket, an RPC ping (NULL) on the VXI-11 channel.
    null_call = struct.pack(">I6I4I", 0x80000028, 1, 0, 2, CORE, 1, 0, 0, 0, 0, 0)
    probe = ("import socket,sys; s=socket.socket(); s.bind((sys.argv[1],0)); s.settimeout(30); "
             "s.connect(('10.77.0.1', int(sys.argv[2]))); s.sendall(bytes.fromhex(sys.argv[3])); "
             "print(repr(s.recv(200)))")
    for source, served in (("10.77.0.2", True), ("10.77.0.3", False)):
        for port, ask in ((server.port, b"*IDN?\n"), (server.core, null_call)):
            said = waits.run([*peer, sys.executable, "-c", probe, source, str(port), ask.hex()])
            answer = said.stdout.strip()
            if served:
                expect(answer.startswith("b'capmeter,") or answer.startswith("b'\\x80"),
                       f"{source} served on {port}: {said}")
            else:
                expect(answer == "b''" or "Connection reset" in said.stderr,
                       f"{source} refused on {port}: {said}")
    if shutil.which("lxi"):
        found = waits.run([*peer, "lxi", "discover"])
        expect("10.77.0.1" in found.stdout, f"broadcast discovery across the veth: {found.stdout}")
    status, said = server.stop()
    expect(said.count("refused 10.77.0.3") == 2 and "refused 10.77.0.2" not in said,
           f"one line per refused peer: {said}")


{"visa_session": visa_session, "lxi": lxi_tools, "wire": wire, "read_only": read_only,
 "withdrawn": withdrawn, "namespaces": namespaces}[CASE]()
print("ok")
