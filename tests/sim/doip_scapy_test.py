#!/usr/bin/python3
"""dmsim --doip end to end, checked by scapy's DoIP and UDS layers: an implementation that
no one here wrote decodes every frame. A tester activates routing, opens the extended
session, reads every DID, starts every routine and sees pending answers for a slow one;
vehicle identification over UDP; SIGTERM ends dmsim with status 0.

    /usr/bin/python3 doip_scapy_test.py <dmsim>

The identifiers and the option bytes of each routine's Start come from dmsim --list --json.
The TCP stream is framed here by the header's length (scapy's DoIPSocket would parse an
acknowledgement together with whatever follows it in the same read)."""

import json
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import time

from scapy.contrib.automotive.doip import DoIP
from scapy.contrib.automotive.uds import UDS, UDS_DSC, UDS_RC, UDS_RDBI

TESTER, ENTITY, TIMEOUT = 0x0E80, 0x1000, 10.0
VIN = b"ZUN1DM5SX0R000042"  # the built-in vehicle's answer for DID F190
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)


def catalogue(dmsim):
    """The DIDs; the routines with option bytes for a Start request and their fixed count."""
    listed = json.loads(subprocess.run([dmsim, "--list", "--json"], capture_output=True,
                                       check=True, timeout=60).stdout)
    dids, routines = [], []
    for entry in listed:
        identifier = int(entry["identifier"], 16)
        if entry["kind"] == "did":
            dids.append(identifier)
            continue
        start = next(m for m in entry["methods"] if m["name"] == "Start")
        count = start["option_bytes"]  # "3", "n", "2+n": a byte sequence gets one byte
        fixed = 0 if count == "n" else int(count.split("+")[0])
        routines.append((identifier, bytes(fixed) + (b"\x01" if "n" in count else b""), fixed))
    return dids, routines


def receive(sock):
    data, deadline = b"", time.monotonic() + TIMEOUT
    while len(data) < 8 or len(data) < 8 + struct.unpack("!I", data[4:8])[0]:
        remaining = deadline - time.monotonic()
        if remaining <= 0 or not select.select([sock], [], [], remaining)[0]:
            return None
        need = 8 - len(data) if len(data) < 8 else 8 + struct.unpack("!I", data[4:8])[0] - len(data)
        chunk = sock.recv(need)
        if not chunk:
            return None
        data += chunk
    return DoIP(data)


def request(sock, uds):
    """Sends one UDS request; returns (final answer as scapy UDS, pending count)."""
    sock.sendall(bytes(DoIP(payload_type=0x8001, source_address=TESTER,
                            target_address=ENTITY) / uds))
    ack = receive(sock)
    if ack is None or ack.payload_type != 0x8002 or ack.ack_code != 0:
        return None, 0
    pending = 0
    while True:
        answer = receive(sock)
        if answer is None or answer.payload_type != 0x8001:
            return None, pending
        reply = answer[UDS]
        if reply.service != 0x7F or reply.negativeResponseCode != 0x78:
            return reply, pending
        pending += 1


def run(port, dids, routines):
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.settimeout(TIMEOUT)
    udp.sendto(bytes(DoIP(protocol_version=0xFF, inverse_version=0x00, payload_type=0x0001)),
               ("127.0.0.1", port))
    announcement = DoIP(udp.recv(512))
    check(announcement.payload_type == 0x0004 and announcement.vin == VIN and
          announcement.logical_address == ENTITY, "vehicle announcement: %r" % announcement)
    udp.close()

    sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
    sock.sendall(bytes(DoIP(payload_type=0x0005, source_address=TESTER, activation_type=0)))
    activation = receive(sock)
    check(activation is not None and activation.routing_activation_response == 0x10,
          "routing activation")
    reply, _ = request(sock, UDS() / UDS_DSC(diagnosticSessionType=0x03))
    check(reply is not None and bytes(reply) == bytes.fromhex("5003003201F4"),
          "extended session: %r" % reply)

    positive = 0
    for did in dids:
        reply, _ = request(sock, UDS() / UDS_RDBI(identifiers=[did]))
        positive += reply is not None and reply.service == 0x62
        check(reply is not None and (bytes(reply)[:3] == b"\x62" + struct.pack("!H", did) or
                                     reply.service == 0x7F), "DID %04X: %r" % (did, reply))
        if did == 0xF190:
            check(reply is not None and bytes(reply)[3:] == VIN, "VIN %r" % reply)
    check(positive >= len(dids) - 5, "%d of %d DIDs read" % (positive, len(dids)))
    # The option bytes dmsim lists are exactly enough: one fewer is too short (NRC 13).
    for rid, options, fixed in routines:
        reply, _ = request(sock, UDS() / UDS_RC(routineControlType=1, routineIdentifier=rid) /
                           options)
        check(reply is not None and (bytes(reply)[:4] == struct.pack("!BBH", 0x71, 1, rid) or
                                     bytes(reply)[:2] == b"\x7f\x31" and bytes(reply)[2] != 0x13),
              "routine %04X: %r" % (rid, reply))
        if fixed:
            reply, _ = request(sock, UDS() / UDS_RC(routineControlType=1, routineIdentifier=rid) /
                               bytes(fixed - 1))
            check(reply is not None and bytes(reply) == b"\x7f\x31\x13",
                  "routine %04X, one byte short: %r" % (rid, reply))

    # Results of routine 0300 come 150 ms late: at least one pending answer first.
    reply, pending = request(sock, UDS() / UDS_RC(routineControlType=3, routineIdentifier=0x0300))
    check(reply is not None and bytes(reply) == bytes.fromhex("7103030002") and pending >= 1,
          "pending then results: %r after %d pending" % (reply, pending))
    sock.close()


def main():
    dmsim = sys.argv[1]
    dids, routines = catalogue(dmsim)
    server = subprocess.Popen([dmsim, "--doip", "127.0.0.1:0"], stdout=subprocess.PIPE)
    try:
        ready = select.select([server.stdout], [], [], 60)[0]
        port = re.search(r":(\d+)$", server.stdout.readline().decode().strip() if ready else "")
        check(port, "a port announced")
        run(int(port.group(1)), dids, routines) if port else None
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            status = server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            server.kill()
            status = "killed"
        check(status == 0, "dmsim exits 0 on SIGTERM, got %s" % status)
    print("%d DIDs, %d routines; %s" % (len(dids), len(routines), failures or "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
