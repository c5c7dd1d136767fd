#!/usr/bin/python3
"""dmsim over SOME/IP against peers it does not share code with, on loopback:

  service  scapy offers services over SD and answers them; dmsim --someip finds and reads
           them: a plain answer, a 4 KiB answer in TP segments, an application error, a
           StopOffer (then 7F 22 10), a re-offer (answers again) and a cancelled call
           (scapy receives Cancel). Expected answers and request payloads come from the
           in-process run of a profile with the same bytes.
  client   dmsim --offer serves the built-in vehicle; scapy finds every offered service,
           reads the VIN and gets ERRORs for unknown ids and versions; SIGTERM sends
           StopOffer for every service.
  pair     dmsim --offer and dmsim --someip in two processes answer every identifier as the
           in-process run does, with the same incident lines.
service and pair capture their session with dumpcap; tshark decodes it without a malformed
frame or an expert warning.

    /usr/bin/python3 someip_peers_test.py service|client|pair <dmsim> <SD port> <folder>

The SD port and the next one (the method port) are the scenario's own, so that the
scenarios run in parallel."""

import json
import os
import signal
import struct
import subprocess
import sys
import time

from someip_peer import (ERROR, FIND, OFFER, REQUEST, RESPONSE, Capture, Peer, catalogue,
                         check, failures, message, run, sd_entries, traced)


def stop(process):
    process.send_signal(signal.SIGTERM)
    try:
        return process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        return "killed"


def check_capture(capture):
    bad, frames, sd_frames = capture.decode()
    check(not bad and frames > sd_frames > 0,
          "tshark: %d SOME/IP frames, %d SD, malformed or warned: %s" %
          (frames, sd_frames, bad[:5]))


def service(dmsim, port, folder):
    big = struct.pack("!I", 4092) + bytes(i % 251 for i in range(4092))
    answers = {0x0102: (RESPONSE, 0, b"\x01"), 0xF1AF: (RESPONSE, 0, big),
               0x0261: (ERROR, 0x22, b"\x22")}  # application error 2; F186 never answers
    profile = {"dids": {"0102": {"Read": {"payload": "01"}}, "F1AF": {"Read": {"payload": big.hex()}},
                        "0261": {"Read": {"error": [0x22]}}, "F186": {"Read": {"no_response": True}}}}
    path = os.path.join(folder, "service_profile.json")
    with open(path, "w") as f:
        json.dump(profile, f)
    requests = ["22 01 02", "22 F1 AF", "22 02 61", "22 F1 86"]
    status, reference, _, calls = traced(
        dmsim, ["--vehicle", path, "--cancel-after", "300"] + requests,
        os.path.join(folder, "service_trace.jsonl"))
    check(status == 3 and len(reference) == 4 and "cancelled" in reference[3] and
          len(reference[1]) > 12000, "in-process reference: %s" % [r[:60] for r in reference])
    steps = [(None, reference[0]), (None, reference[1]), (None, reference[2]),
             ("stop", "22 01 02 -> 7F 22 10"), ("offer", reference[0]), (None, reference[3])]

    capture = Capture(os.path.join(folder, "service.pcap"), [port, port + 1])
    peer = Peer("127.0.0.3", port, port + 1)
    offered = set(answers) | {0xF186}
    dm = subprocess.Popen([dmsim, "--someip", "127.0.0.1", "--sd-port", str(port),
                           "--cancel-after", "300"], stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE, bufsize=0)
    received, state = [], {"next_offer": 0, "out": b""}

    def serve(seconds, want_line=False):
        """Offers every second, answers Finds and calls; returns dmsim's next output line
        when WANT_LINE, None at the deadline or at the end of its output."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if want_line and b"\n" in state["out"]:
                line, state["out"] = state["out"].split(b"\n", 1)
                return line.decode()
            if time.monotonic() >= state["next_offer"]:
                peer.offer(sorted(offered))
                state["next_offer"] = time.monotonic() + 1
            got = peer.receive(min(deadline, state["next_offer"]), [dm.stdout])
            if got is None:
                continue
            source, sender, packet = got
            if source is dm.stdout:
                chunk = os.read(dm.stdout.fileno(), 1 << 16)
                if not chunk:
                    return None
                state["out"] += chunk
            elif source is peer.methods and packet is not None:
                key, payload = (packet.srv_id, packet.method_id), bytes(packet.payload)
                received.append((key, packet.client_id, packet.session_id))
                check(packet.msg_type == REQUEST and packet.proto_ver == 1 and
                      packet.iface_ver == 1 and payload == calls.get(key),
                      "request %r: %s, in-process %s" % (packet, payload.hex(), calls.get(key)))
                reply = answers.get(key[0]) if key[1] == 1 else (RESPONSE, 0, b"")  # Cancel
                for datagram in message(packet.srv_id << 16 | packet.method_id,
                                        packet.client_id << 16 | packet.session_id,
                                        reply[0], reply[2], code=reply[1]) if reply else []:
                    peer.methods.sendto(datagram, sender)
            else:
                for e, _ in sd_entries(packet):
                    if e.type == FIND and e.srv_id in offered:
                        peer.offer([e.srv_id], to=sender)
        return None

    for action, expected in steps:
        if action:
            (offered.discard if action == "stop" else offered.add)(0x0102)
            peer.offer([0x0102], ttl=0 if action == "stop" else 3)
            serve(0.5)
        dm.stdin.write(expected.split(" ->")[0].encode() + b"\n")
        line = serve(10, want_line=True)
        check(line == expected, "%s: %s, expected %s" % (action, (line or "")[:80], expected[:80]))
    dm.stdin.close()
    serve(10)
    check(dm.wait(timeout=10) == 3, "dmsim --someip exit status %s" % dm.returncode)
    sessions = [s for _, _, s in received]
    check({c for _, c, _ in received} == {1} and sessions == sorted(set(sessions)),
          "client id 1 and rising sessions: %s" % received)
    check(((0xF186, 0) in [k for k, _, _ in received]), "Cancel of F186 received")
    peer.close()
    check_capture(capture)


def client(dmsim, port, folder):
    listed, hidden = catalogue(dmsim)
    ids = {int(e["identifier"], 16): e["someip"] for e in listed}
    expected = {int(s["service_id"], 16) for i, s in ids.items() if i not in hidden}
    vin, read = int(ids[0xF190]["service_id"], 16), ids[0xF190]["methods"]["Read"]
    _, out, _, calls = traced(dmsim, ["22 F1 90"], os.path.join(folder, "client_trace.jsonl"))
    vin_answer = bytes.fromhex(out[0].split("->")[1].replace(" ", ""))[3:]

    dm = subprocess.Popen([dmsim, "--offer", "127.0.0.2:%d" % (port + 1), "--sd-port",
                           str(port)])
    peer = Peer("127.0.0.6", port)
    offers, unicast, next_find = {}, 0, 0
    deadline = time.monotonic() + 10
    while not expected <= set(offers) and time.monotonic() < deadline:
        if time.monotonic() >= next_find:  # again until found: dmsim may not listen yet
            peer.find(sorted(expected - set(offers)))
            next_find = time.monotonic() + 0.5
        got = peer.receive(min(deadline, next_find))
        for e, option in sd_entries(got and got[2]):
            if e.type == OFFER and e.ttl > 0:
                unicast += got[0] is peer.sd
                offers[e.srv_id] = (e.inst_id, e.major_ver, e.minor_ver, option and
                                    (option.addr, option.port, option.l4_proto))
    check(set(offers) == expected and unicast > 0,
          "%d of %d services offered, %d unicast; missing %s, not offered but found %s" %
          (len(offers), len(expected), unicast, expected - set(offers), set(offers) - expected))
    endpoints = {o for o in offers.values()}
    check(endpoints == {(1, 1, 0, ("127.0.0.2", port + 1, 0x11))}, "offers: %s" % endpoints)

    hidden_service = int(ids[min(hidden)]["service_id"], 16)
    cases = [  # what, service, method, interface version, protocol version, answer
        ("VIN", vin, read, 1, 1, (RESPONSE, 0, vin_answer)),
        ("unknown service", 0x4711, 1, 1, 1, (ERROR, 0x02, None)),
        ("service not offered", hidden_service, 1, 1, 1, (ERROR, 0x02, None)),
        ("unknown method", vin, 0x7F, 1, 1, (ERROR, 0x03, None)),
        ("interface version", vin, read, 2, 1, (ERROR, 0x08, None)),
        ("protocol version", vin, read, 1, 2, (ERROR, 0x07, None))]
    for session, (what, srv, method, iface, proto, (kind, code, payload)) in enumerate(cases, 1):
        peer.methods.sendto(message(srv << 16 | method, 0x4200 << 16 | session, REQUEST,
                                    calls[0xF190, read], iface, proto=proto)[0],
                            ("127.0.0.2", port + 1))
        deadline, answer = time.monotonic() + 5, None
        while answer is None and time.monotonic() < deadline:
            got = peer.receive(deadline)
            answer = got[2] if got and got[0] is peer.methods else None
        check(answer is not None and (answer.srv_id, answer.method_id, answer.client_id,
                                      answer.session_id, answer.msg_type, answer.retcode) ==
              (srv, method, 0x4200, session, kind, code) and
              (payload is None or bytes(answer.payload) == payload),
              "%s: %r" % (what, answer))

    dm.send_signal(signal.SIGTERM)
    stopped, deadline = set(), time.monotonic() + 5
    while stopped != expected and time.monotonic() < deadline:
        got = peer.receive(deadline)
        stopped |= {e.srv_id for e, _ in sd_entries(got and got[2])
                    if e.type == OFFER and e.ttl == 0}
    check(stopped == expected, "StopOffer for %d of %d services" % (len(stopped), len(expected)))
    check(stop(dm) == 0, "dmsim --offer exits 0 on SIGTERM, got %s" % dm.returncode)
    peer.close()


def pair(dmsim, port, folder):
    listed, _ = catalogue(dmsim)
    requests = []
    for e in listed:  # a DID is read; a routine started with as many option bytes as it takes
        start = next((m for m in e["methods"] if m["name"] == "Start"), None)
        count = start and start["option_bytes"]  # "3", "n", "2+n"
        fixed = count and (0 if count == "n" else int(count.split("+")[0]))
        requests.append("22 " + e["identifier"] if not start else "31 01 %s %s" % (
            e["identifier"], (bytes(fixed) + (b"\x01" if "n" in count else b"")).hex()))
    args = ["--log-level", "debug"] + requests
    status, out, log = run([dmsim] + args)

    capture = Capture(os.path.join(folder, "pair.pcap"), [port, port + 1])
    vehicle = subprocess.Popen([dmsim, "--offer", "127.0.0.4:%d" % (port + 1), "--sd-port",
                                str(port)])
    someip_status, someip_out, someip_log = run(
        [dmsim, "--someip", "127.0.0.5", "--sd-port", str(port)] + args)
    check(stop(vehicle) == 0, "dmsim --offer exits 0 on SIGTERM, got %s" % vehicle.returncode)
    check_capture(capture)

    check(len(out) == len(requests) and status == 0 and someip_status == status,
          "exit status %s in-process, %s over SOME/IP" % (status, someip_status))
    differ = [(a, b) for a, b in zip(out, someip_out) if a != b]
    check(someip_out == out, "%d answers differ, first: %s" % (len(differ), differ[:1]))

    def incidents(lines, only=""):
        return [line for line in lines if not line.startswith("dmsim") and only in line]
    check(sorted(incidents(someip_log)) == sorted(incidents(log)) and
          incidents(someip_log, '"Method_call') == incidents(log, '"Method_call'),
          "incident lines differ: only in-process %s; only over SOME/IP %s" % (
              sorted(set(incidents(log)) - set(incidents(someip_log)))[:3],
              sorted(set(incidents(someip_log)) - set(incidents(log)))[:3]))
    print("%d requests, %d incident lines" % (len(requests), len(incidents(log))))


def main():
    scenario, dmsim, port, folder = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    os.makedirs(folder, exist_ok=True)
    {"service": service, "client": client, "pair": pair}[scenario](dmsim, port, folder)
    print("%s: %s" % (scenario, failures or "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
