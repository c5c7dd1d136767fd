"""A SOME/IP and Service Discovery peer for the tests, independent of the runtime's code.

It frames every message it sends itself (struct), because scapy 2.5 ignores the header's
length when parsing and builds TP segments and SD option indexes wrongly; every message it
receives is decoded by scapy, an implementation no one here wrote, after its length field
has been checked against the datagram. Helpers to run dmsim and to decode a capture with
tshark come with it. Every wait is bounded by a deadline."""

import json
import os
import select
import signal
import socket
import struct
import subprocess
import time

from scapy.contrib.automotive.someip import SOMEIP, SD, SDEntry_Service, SDOption_IP4_EndPoint

GROUP = "224.244.224.245"
SD_ID = 0xFFFF8100
REQUEST, NOTIFICATION, RESPONSE, ERROR, TP = 0x00, 0x02, 0x80, 0x81, 0x20
FIND, OFFER = 0x00, 0x01
SEGMENT = 1392  # payload bytes per TP segment, a multiple of 16
SD_LIMIT = 1416  # UDP payload of one SD message at most
PROFILE = os.path.join(os.path.dirname(__file__), "../../../sim/profiles/vehicle.json")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return condition


def message(msg_id, request_id, mtype, payload=b"", iface=1, code=0, proto=1):
    """The datagrams of one message: one, or TP segments when the payload is too long."""
    if len(payload) <= SEGMENT:
        return [struct.pack("!IIIBBBB", msg_id, 8 + len(payload), request_id, proto, iface,
                            mtype, code) + payload]
    return [struct.pack("!IIIBBBBI", msg_id, 12 + len(chunk), request_id, proto, iface,
                        mtype | TP, code, offset | (offset + SEGMENT < len(payload))) + chunk
            for offset in range(0, len(payload), SEGMENT)
            for chunk in [payload[offset:offset + SEGMENT]]]


def entry(kind, service, ttl, instance=1, major=1, minor=0, options=0):
    """A 16-byte service entry; with options, it refers to that many options from index 0."""
    return struct.pack("!BBBBHHBBHI", kind, 0, 0, options << 4, service, instance, major,
                       ttl >> 16, ttl & 0xFFFF, minor)


def endpoint(address, port):
    """IPv4 endpoint option, UDP: length 9, type 4."""
    return struct.pack("!HBB4sBBH", 9, 0x04, 0, socket.inet_aton(address), 0, 0x11, port)


def decode(data):
    """scapy's SOMEIP of one datagram; None when the length field does not match it."""
    if check(len(data) >= 16 and struct.unpack("!I", data[4:8])[0] == len(data) - 8,
             "length field of %s" % data[:16].hex()):
        return SOMEIP(data)
    return None


def udp(address, port, group=None):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((group or address, port))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(address))
    if group:
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                        socket.inet_aton(group) + socket.inet_aton(address))
    return sock


class Peer:
    """One host on loopback: SD on ADDRESS:SD_PORT and the group, methods on ADDRESS:PORT."""

    def __init__(self, address, sd_port, method_port=0):
        self.address, self.sd_port = address, sd_port
        self.sd, self.group = udp(address, sd_port), udp(address, sd_port, GROUP)
        self.methods = udp(address, method_port)
        self.port = self.methods.getsockname()[1]
        self.sessions = {}  # SD session counter per destination

    def close(self):
        for sock in (self.sd, self.group, self.methods):
            sock.close()

    def send_sd(self, entries, options=b"", to=None):
        """Entries in as many SD messages as the size limit needs; multicast by default."""
        to = to or (GROUP, self.sd_port)
        per_message = (SD_LIMIT - 28 - len(options)) // 16
        for first in range(0, len(entries), per_message):
            chunk = b"".join(entries[first:first + per_message])
            session = self.sessions[to] = self.sessions.get(to, 0) + 1
            payload = (struct.pack("!B3xI", 0xC0, len(chunk)) + chunk +
                       struct.pack("!I", len(options)) + options)
            for datagram in message(SD_ID, session, NOTIFICATION, payload):
                self.sd.sendto(datagram, to)

    def offer(self, services, ttl=3, to=None):
        self.send_sd([entry(OFFER, s, ttl, options=1) for s in services],
                     endpoint(self.address, self.port), to)

    def find(self, services, to=None):
        self.send_sd([entry(FIND, s, 3, 0xFFFF, 0xFF, 0xFFFFFFFF) for s in services], b"", to)

    def receive(self, deadline, files=()):
        """(socket, sender, scapy SOMEIP) of the next datagram, or (file, None, None) when one
        of FILES is readable first; None at the deadline."""
        remaining = deadline - time.monotonic()
        socks = [self.sd, self.group, self.methods]
        ready = select.select(socks + list(files), [], [], max(remaining, 0))[0]
        if not ready:
            return None
        if ready[0] not in socks:
            return ready[0], None, None
        data, sender = ready[0].recvfrom(65535)
        return ready[0], sender, decode(data)


def sd_entries(packet):
    """(entry, endpoint option or None) for each service entry of an SD message."""
    if packet is None or SD not in packet:
        return []
    sd = packet[SD]
    check(sd.len_entry_array % 16 == 0 and
          len(bytes(sd)) == 12 + sd.len_entry_array + sd.len_option_array,
          "SD array lengths: %r" % sd)
    result = []
    for e in sd.entry_array:
        if not isinstance(e, SDEntry_Service):
            continue
        options = sd.option_array[e.index_1:e.index_1 + e.n_opt_1]
        check(len(options) == e.n_opt_1, "option index of %r" % e)
        result.append((e, next((o for o in options if isinstance(o, SDOption_IP4_EndPoint)),
                               None)))
    return result


def run(args, stdin=None, timeout=60):
    """A finished dmsim run: (exit status, standard output lines, standard error lines)."""
    done = subprocess.run(args, input=stdin, capture_output=True, text=True, timeout=timeout)
    return done.returncode, done.stdout.splitlines(), done.stderr.splitlines()


def traced(dmsim, args, path):
    """The in-process run of ARGS with --trace: (status, output, log, {(service, method):
    request payload}), service = the four hex digits of the interface's namespace."""
    status, out, log = run([dmsim, "--trace", path] + args)
    calls = {}
    with open(path) as trace:
        for line in trace:
            call = json.loads(line)
            service = int(call["service"].split("::")[3][2:], 16)
            calls[service, call["method"]] = bytes.fromhex(call["request"])
    return status, out, log, calls


def catalogue(dmsim):
    """dmsim --list --json, and the services the built-in profile leaves unoffered."""
    listed = json.loads("\n".join(run([dmsim, "--list", "--json"])[1]))
    with open(PROFILE) as f:
        profile = json.load(f)
    hidden = {int(k, 16) for kind in ("dids", "routines")
              for k, v in profile.get(kind, {}).items() if v.get("offered") is False}
    return listed, hidden


class Capture:
    """dumpcap on loopback for the given UDP ports, bounded in time; decode() runs tshark
    over it as SOME/IP and returns the frames that are malformed or carry an expert
    warning or error, and the numbers of SOME/IP and SD frames."""

    def __init__(self, path, ports, seconds=60):
        self.path, self.ports = path, ports
        self.process = subprocess.Popen(
            ["dumpcap", "-q", "-P", "-i", "lo", "-a", "duration:%d" % seconds, "-w", path, "-f",
             "udp and (" + " or ".join("port %d" % p for p in ports) + ")"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline, said = time.monotonic() + 10, b""  # "File: ..." once the file is open
        while b"File:" not in said and select.select(
                [self.process.stderr], [], [], max(deadline - time.monotonic(), 0))[0]:
            chunk = self.process.stderr.read1()
            said += chunk if chunk else b"File: (dumpcap ended)"
        time.sleep(0.5)  # the filter is in place a little after the file is open

    def decode(self):
        time.sleep(0.3)
        self.process.send_signal(signal.SIGINT)
        self.process.communicate(timeout=10)
        decode_as = sum((["-d", "udp.port==%d,someip" % p] for p in self.ports), [])
        _, frames, _ = run(["tshark", "-r", self.path] + decode_as +
                           ["-T", "fields", "-e", "frame.number", "-e", "_ws.col.Protocol",
                            "-e", "_ws.malformed", "-e", "_ws.expert.severity"])
        bad = [f for f in frames if f.split("\t")[2] or
               any(int(s) >= 0x00600000 for s in f.split("\t")[3].split(",") if s)]
        return bad, sum("SOME/IP" in f for f in frames), sum("SD" in f.split("\t")[1]
                                                               for f in frames)
