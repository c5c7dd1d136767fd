"""A SOME/IP and Service Discovery peer for the tests that shares no code with the runtime.
It frames what it sends itself (scapy 2.5 ignores the header's length when parsing and
builds TP segments and SD option indexes wrongly) and has scapy, which no one here wrote,
decode all it receives once the length field matches the datagram. Also: dmsim runs, and
tshark over a dumpcap capture. Every wait ends at a deadline."""

import json
import os
import select
import signal
import socket
import struct
import subprocess
import time

from scapy.contrib.automotive.someip import SOMEIP, SD, SDEntry_Service, SDOption_IP4_EndPoint

GROUP, SD_ID = "224.244.224.245", 0xFFFF8100
REQUEST, NOTIFICATION, RESPONSE, ERROR, TP = 0x00, 0x02, 0x80, 0x81, 0x20
FIND, OFFER = 0x00, 0x01
SEGMENT = 1392  # payload bytes per TP segment, a multiple of 16
SD_LIMIT = 1416  # UDP payload of one SD message at most
PROFILE = os.path.join(os.path.dirname(__file__), "../../../sim/profiles/vehicle.json")
BIG = struct.pack("!I", 4092) + bytes(i % 251 for i in range(4092))  # F1AF's 4 KiB answer
failures, started = [], []


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
        self.address, self.sd_port, self.sessions = address, sd_port, {}
        self.sd, self.group = udp(address, sd_port), udp(address, sd_port, GROUP)
        self.methods = udp(address, method_port)

    def send_sd(self, entries, options=b"", to=None):
        """Entries in as many SD messages as the size limit needs; multicast by default.
        Flags: reboot, unicast; one session counter per destination."""
        to = to or (GROUP, self.sd_port)
        per_message = (SD_LIMIT - 28 - len(options)) // 16
        for first in range(0, len(entries), per_message):
            chunk = b"".join(entries[first:first + per_message])
            session = self.sessions[to] = self.sessions.get(to, 0) + 1
            self.sd.sendto(message(SD_ID, session, NOTIFICATION, struct.pack(
                "!B3xI", 0xC0, len(chunk)) + chunk + struct.pack("!I", len(options)) +
                options)[0], to)

    def offer(self, services, ttl=3, to=None):
        """Offers (TTL 0: StopOffers) with an IPv4 endpoint option: length 9, type 4, UDP."""
        self.send_sd([entry(OFFER, s, ttl, options=1) for s in services], struct.pack(
            "!HBB4sBBH", 9, 0x04, 0, socket.inet_aton(self.address), 0, 0x11,
            self.methods.getsockname()[1]), to)

    def find(self, services):
        self.send_sd([entry(FIND, s, 3, 0xFFFF, 0xFF, 0xFFFFFFFF) for s in services])

    def receive(self, deadline, files=()):
        """(socket, sender, scapy SOMEIP or None when the length field is wrong) of the next
        datagram, (file, None, None) when one of FILES is readable first, None at the
        deadline."""
        socks = [self.sd, self.group, self.methods]
        ready = select.select(socks + list(files), [], [],
                              max(deadline - time.monotonic(), 0))[0]
        if not ready:
            return None
        if ready[0] not in socks:
            return ready[0], None, None
        data, sender = ready[0].recvfrom(65535)
        return ready[0], sender, SOMEIP(data) if check(
            len(data) >= 16 and struct.unpack("!I", data[4:8])[0] == len(data) - 8,
            "length field of %s" % data[:16].hex()) else None


def answer(peer, deadline):
    """The next message on the method socket, reassembled from its TP segments after each
    is checked: (scapy SOMEIP of the last datagram, payload), or (None, None)."""
    payload = b""
    while time.monotonic() < deadline:
        got = peer.receive(deadline)
        if got is None or got[0] is not peer.methods or got[2] is None:
            continue
        packet, data = got[2], bytes(got[2].payload)
        if not packet.msg_type & TP:
            return packet, data
        check(packet.offset * 16 == len(payload) and len(data) <= SEGMENT and
              (len(data) % 16 == 0 or not packet.more_seg), "TP segment %r" % packet)
        payload += data
        if not packet.more_seg:
            return packet, payload
    return None, None


def sd_entries(packet):
    """(entry, its IPv4 endpoint option or None) for each service entry of an SD message,
    after checking the array lengths and the option indexes."""
    if packet is None or SD not in packet:
        return []
    sd = packet[SD]
    check(sd.len_entry_array % 16 == 0 and
          len(bytes(sd)) == 12 + sd.len_entry_array + sd.len_option_array,
          "SD array lengths: %r" % sd)
    found = []
    for e in [e for e in sd.entry_array if isinstance(e, SDEntry_Service)]:
        options = sd.option_array[e.index_1:e.index_1 + e.n_opt_1]
        check(len(options) == e.n_opt_1, "option index of %r" % e)
        found.append((e, next((o for o in options if isinstance(o, SDOption_IP4_EndPoint)),
                              None)))
    return found


def run(args):
    """A finished run: (exit status, standard output lines, standard error lines)."""
    done = subprocess.run(args, capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout.splitlines(), done.stderr.splitlines()


def traced(dmsim, args, path):
    """The in-process run of ARGS with --trace: (status, output, log, {(service, method):
    request payload}), service = the four hex digits of the interface's namespace."""
    status, out, log = run([dmsim, "--trace", path] + args)
    with open(path) as trace:
        calls = {(int(c["service"].split("::")[3][2:], 16), c["method"]):
                 bytes.fromhex(c["request"]) for c in map(json.loads, trace)}
    return status, out, log, calls


def catalogue(dmsim, folder):
    """dmsim --list --json; the built-in profile with BIG as F1AF's answer, written to
    FOLDER; the identifiers it leaves unoffered."""
    listed = json.loads("\n".join(run([dmsim, "--list", "--json"])[1]))
    with open(PROFILE) as f:
        profile = json.load(f)
    profile["dids"]["F1AF"] = {"Read": {"values": [BIG[4:].hex()]}}
    with open(os.path.join(folder, "big_vehicle.json"), "w") as f:
        json.dump(profile, f)
    return listed, f.name, {int(k, 16) for kind in ("dids", "routines")
                            for k, v in profile[kind].items() if v.get("offered") is False}


def start(args, **options):
    """A process that main's clean-up stops should the scenario end early."""
    started.append(subprocess.Popen(args, **options))
    return started[-1]


def stop(process):
    """SIGTERM; the exit status, or "killed" after 10 s."""
    process.send_signal(signal.SIGTERM)
    try:
        return process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        return "killed"


def capture(path, ports):
    """dumpcap on loopback for these UDP ports, 60 s at most, once it captures."""
    process = start(["dumpcap", "-q", "-P", "-i", "lo", "-a", "duration:60", "-w", path, "-f",
                     "udp and (" + " or ".join("port %d" % p for p in ports) + ")"],
                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    deadline, said = time.monotonic() + 10, b""  # it says "File: ..." once the file is open
    while b"File:" not in said and select.select(
            [process.stderr], [], [], max(deadline - time.monotonic(), 0))[0]:
        said += process.stderr.read1() or b"File: (dumpcap ended)"
    time.sleep(0.5)  # the filter is in place a little after the file is open
    return process


def check_capture(process, path, ports):
    """tshark decodes the capture as SOME/IP: SD and method frames, none of them malformed
    or with an expert warning or error."""
    time.sleep(0.3)
    process.send_signal(signal.SIGINT)
    process.communicate(timeout=10)
    frames = [f.split("\t") for f in run(
        ["tshark", "-r", path, "-T", "fields", "-e", "_ws.col.Protocol", "-e", "_ws.malformed",
         "-e", "_ws.expert.severity"] + sum((["-d", "udp.port==%d,someip" % p] for p in ports),
                                            []))[1]]
    bad = [f for f in frames if f[1] or any(int(s) >= 0x600000 for s in f[2].split(",") if s)]
    sd = sum(f[0] == "SOME/IP-SD" for f in frames)
    check(not bad and len(frames) > sd > 0, "tshark: %d frames, %d SD; malformed or warned: %s"
          % (len(frames), sd, bad[:5]))
