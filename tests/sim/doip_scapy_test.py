#!/usr/bin/python3
"""dmsim --doip checked by scapy's DoIP and UDS layers: an implementation that no one here
wrote decodes every frame. A tester activates routing, opens the extended session, reads
every DID, runs every routine and sees pending answers for a slow routine; vehicle
identification and entity status over UDP.

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
from scapy.contrib.automotive.uds import UDS, UDS_DSC, UDS_RC, UDS_RDBI, UDS_TP

TESTER = 0x0E80
ENTITY = 0x1000
TIMEOUT = 10.0
VIN = b"ZUN1DM5SX0R000042"  # the built-in vehicle's answer for DID F190

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, flush=True)


def catalogue(dmsim):
    """The DIDs, and the routines with option bytes for a Start request, as dmsim lists them."""
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
        routines.append((identifier, bytes(fixed) + (b"\x01" if "n" in count else b"")))
    return dids, routines


def receive_frame(sock, deadline):
    data = b""
    while True:
        if len(data) >= 8:
            length = struct.unpack("!I", data[4:8])[0]
            if len(data) >= 8 + length:
                return data
        remaining = deadline - time.monotonic()
        if remaining <= 0 or not select.select([sock], [], [], remaining)[0]:
            return None
        need = 8 - len(data) if len(data) < 8 else 8 + length - len(data)
        chunk = sock.recv(need)
        if not chunk:
            return None
        data += chunk


def receive(sock):
    frame = receive_frame(sock, time.monotonic() + TIMEOUT)
    return DoIP(frame) if frame is not None else None


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
        check(answer.source_address == ENTITY and answer.target_address == TESTER,
              "answer addresses")
        reply = answer[UDS]
        if reply.service == 0x7F and reply.negativeResponseCode == 0x78:
            pending += 1
            continue
        return reply, pending


def main():
    dmsim = sys.argv[1]
    dids, routines = catalogue(dmsim)
    server = subprocess.Popen([dmsim, "--doip", "127.0.0.1:0"], stdout=subprocess.PIPE)
    try:
        ready = select.select([server.stdout], [], [], 60)[0]
        line = server.stdout.readline().decode() if ready else ""
        match = re.search(r":(\d+)$", line.strip())
        if not match:
            print("FAIL: no port announced:", line)
            return 1
        port = int(match.group(1))
        run(port, dids, routines)
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            status = server.wait(timeout=20)
        except subprocess.TimeoutExpired:
            server.kill()
            status = "killed"
        check(status == 0, "dmsim exits 0 on SIGTERM, got %s" % status)
    print("%d DIDs, %d routines; %s" % (len(dids), len(routines),
                                        "FAILED" if failures else "passed"))
    return 1 if failures else 0


def run(port, dids, routines):
    # UDP: vehicle identification and entity status.
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.settimeout(TIMEOUT)
    udp.sendto(bytes(DoIP(protocol_version=0xFF, inverse_version=0x00, payload_type=0x0001)),
               ("127.0.0.1", port))
    announcement = DoIP(udp.recv(512))
    check(announcement.payload_type == 0x0004 and announcement.vin == VIN and
          announcement.logical_address == ENTITY and
          announcement.eid == bytes.fromhex("00023631001C") and
          announcement.further_action == 0, "vehicle announcement: %r" % announcement)
    udp.sendto(bytes(DoIP(payload_type=0x4001)), ("127.0.0.1", port))
    status = DoIP(udp.recv(512))
    check(status.payload_type == 0x4002 and status.node_type == 1 and
          status.max_open_sockets == 4 and status.max_data_size == 4095,
          "entity status: %r" % status)
    udp.close()

    sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
    sock.sendall(bytes(DoIP(payload_type=0x0005, source_address=TESTER, activation_type=0)))
    activation = receive(sock)
    check(activation is not None and activation.payload_type == 0x0006 and
          activation.routing_activation_response == 0x10 and
          activation.logical_address_doip_entity == ENTITY, "routing activation")

    reply, _ = request(sock, UDS() / UDS_DSC(diagnosticSessionType=0x03))
    check(reply is not None and bytes(reply) == bytes.fromhex("5003003201F4"),
          "extended session: %r" % reply)
    reply, _ = request(sock, UDS() / UDS_TP(subFunction=0))
    check(reply is not None and reply.service == 0x7E, "tester present")

    positive = 0
    for did in dids:
        reply, _ = request(sock, UDS() / UDS_RDBI(identifiers=[did]))
        ok = reply is not None and (
            (reply.service == 0x62 and bytes(reply)[1:3] == struct.pack("!H", did)) or
            (reply.service == 0x7F and reply.requestServiceId == 0x22))
        check(ok, "DID %04X: %r" % (did, reply))
        positive += reply is not None and reply.service == 0x62
        if did == 0xF190 and reply is not None:
            check(bytes(reply)[3:] == VIN, "VIN %r" % bytes(reply))
    check(positive >= len(dids) - 5, "%d of %d DIDs read" % (positive, len(dids)))

    for rid, options in routines:
        reply, _ = request(sock, UDS() / UDS_RC(routineControlType=1, routineIdentifier=rid) /
                           options)
        ok = reply is not None and (
            (reply.service == 0x71 and bytes(reply)[1:4] == struct.pack("!BH", 1, rid)) or
            (reply.service == 0x7F and reply.requestServiceId == 0x31))
        check(ok, "routine %04X: %r" % (rid, reply))

    # Results of routine 0300 come 150 ms late: at least one pending answer first.
    reply, pending = request(sock, UDS() / UDS_RC(routineControlType=3, routineIdentifier=0x0300))
    check(reply is not None and bytes(reply) == bytes.fromhex("7103030002") and pending >= 1,
          "pending then results: %r after %d pending" % (reply, pending))
    sock.close()


if __name__ == "__main__":
    sys.exit(main())
