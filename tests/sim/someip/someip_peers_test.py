#!/usr/bin/python3
"""dmsim over SOME/IP on loopback against peers that share no code with it:
service  scapy offers and answers; dmsim --someip reads a plain answer, 4 KiB in TP segments,
         an application error, 7F 22 10 after a StopOffer, an answer after a re-offer and a
         cancelled call (scapy receives Cancel), as the in-process run of the same bytes;
client   scapy finds all dmsim --offer offers, reads the VIN and 4 KiB, gets ERRORs for
         unknown ids and versions, and StopOffers on SIGTERM;
pair     dmsim --offer with dmsim --someip answer every identifier, with the same incident
         lines, as the in-process run.
tshark decodes the captures of service and pair: no malformed frame, no expert warning.
    /usr/bin/python3 someip_peers_test.py service|client|pair DMSIM SD_PORT FOLDER
SD_PORT and the next port (methods) are the scenario's own: scenarios run in parallel."""

import json
import os
import signal
import subprocess
import sys
import time
from collections import Counter

from someip_peer import (BIG, ERROR, FIND, OFFER, REQUEST, RESPONSE, TP, Peer, answer,
                         capture, catalogue, check, check_capture, failures, message, run,
                         sd_entries, start, started, stop, traced)


def service(dmsim, port, folder):
    answers = {0x0102: (RESPONSE, 0, b"\x01"), 0xF1AF: (RESPONSE, 0, BIG),
               0x0261: (ERROR, 0x22, b"\x22")}  # application error 2; F186 never answers
    path = os.path.join(folder, "service_profile.json")
    with open(path, "w") as f:
        json.dump({"dids": {"0102": {"Read": {"payload": "01"}},
                            "F1AF": {"Read": {"payload": BIG.hex()}},
                            "0261": {"Read": {"error": [0x22]}},
                            "F186": {"Read": {"no_response": True}}}}, f)
    status, reference, _, calls = traced(
        dmsim, ["--vehicle", path, "--cancel-after", "300", "22 01 02", "22 F1 AF", "22 02 61",
                "22 F1 86"], os.path.join(folder, "service_trace.jsonl"))
    check(status == 3 and len(reference) == 4 and len(reference[1]) > 12000,
          "in-process reference: %s" % [r[:60] for r in reference])
    steps = [(None, reference[0]), (None, reference[1]), (None, reference[2]),
             ("stop", "22 01 02 -> 7F 22 10"), ("offer", reference[0]), (None, reference[3])]

    pcap = os.path.join(folder, "service.pcap")
    dumpcap, peer = capture(pcap, [port, port + 1]), Peer("127.0.0.3", port, port + 1)
    offered = set(answers) | {0xF186}
    dm = start([dmsim, "--someip", "127.0.0.1", "--sd-port", str(port), "--cancel-after", "300"],
               stdin=subprocess.PIPE, stdout=subprocess.PIPE, bufsize=0)
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
            source, sender, packet = peer.receive(min(deadline, state["next_offer"]),
                                                  [dm.stdout]) or (None, None, None)
            if source is dm.stdout:
                chunk = os.read(dm.stdout.fileno(), 1 << 16)
                if not chunk:
                    return None
                state["out"] += chunk
            elif source is peer.methods and packet is not None:
                key, payload = (packet.srv_id, packet.method_id), bytes(packet.payload)
                received.append((key, packet.client_id, packet.session_id))
                # Cancel takes what Read takes, the MetaInfo: the in-process run may end
                # before its trace has the Cancel
                expected = calls.get(key, calls.get((key[0], 1)))
                check(packet.msg_type == REQUEST and packet.proto_ver == packet.iface_ver == 1
                      and payload == expected,
                      "request %r, in-process payload %s" % (packet, expected))
                reply = answers.get(key[0]) if key[1] == 1 else (RESPONSE, 0, b"")  # Cancel
                for datagram in message(packet.srv_id << 16 | packet.method_id,
                                        packet.client_id << 16 | packet.session_id,
                                        reply[0], reply[2], code=reply[1]) if reply else []:
                    peer.methods.sendto(datagram, sender)
            elif source:
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
    check({c for _, c, _ in received} == {1} and sessions == sorted(set(sessions)) and
          (0xF186, 0) in [k for k, _, _ in received],
          "client id 1, rising sessions, a Cancel of F186: %s" % received)
    check_capture(dumpcap, pcap, [port, port + 1])


def client(dmsim, port, folder):
    listed, profile, hidden = catalogue(dmsim, folder)
    ids = {int(e["identifier"], 16): e["someip"] for e in listed}
    expected = {int(s["service_id"], 16) for i, s in ids.items() if i not in hidden}
    vin, read = int(ids[0xF190]["service_id"], 16), ids[0xF190]["methods"]["Read"]
    _, out, _, calls = traced(dmsim, ["22 F1 90"], os.path.join(folder, "client_trace.jsonl"))
    record = bytes.fromhex(out[0].split("->")[1].replace(" ", ""))[3:]  # u8[17] in UDS,
    record = len(record).to_bytes(4, "big") + record  # with its length field in SOME/IP

    dm = start([dmsim, "--vehicle", profile, "--offer", "127.0.0.2:%d" % (port + 1),
                "--sd-port", str(port)])
    peer = Peer("127.0.0.6", port)
    offers, unicast, next_find, deadline = {}, set(), 0, time.monotonic() + 10
    while unicast != expected and time.monotonic() < deadline:
        if time.monotonic() >= next_find:  # again until answered: dmsim may not listen yet
            peer.find(sorted(expected - unicast))
            next_find = time.monotonic() + 0.5
        got = peer.receive(min(deadline, next_find))
        for e, option in sd_entries(got and got[2]):
            if e.type == OFFER and e.ttl > 0:
                unicast |= {e.srv_id} if got[0] is peer.sd else set()
                offers[e.srv_id] = (e.inst_id, e.major_ver, e.minor_ver, option and
                                    (option.addr, option.port, option.l4_proto))
    check(set(offers) == expected == unicast, "%d of %d offered, %d by unicast; missing %s, "
          "offered but hidden %s" % (len(offers), len(expected), len(unicast),
                                     expected - unicast, set(offers) - expected))
    check(set(offers.values()) == {(1, 1, 0, ("127.0.0.2", port + 1, 0x11))},
          "offers: %s" % set(offers.values()))

    cases = [  # what, service, method, interface version, protocol version, answer
        ("VIN", vin, read, 1, 1, (RESPONSE, 0, record)),
        ("4 KiB", int(ids[0xF1AF]["service_id"], 16), read, 1, 1, (RESPONSE | TP, 0, BIG)),
        ("unknown service", 0x4711, 1, 1, 1, (ERROR, 0x02, None)),
        ("not offered", int(ids[min(hidden)]["service_id"], 16), 1, 1, 1, (ERROR, 0x02, None)),
        ("unknown method", vin, 0x7F, 1, 1, (ERROR, 0x03, None)),
        ("interface version", vin, read, 2, 1, (ERROR, 0x08, None)),
        ("protocol version", vin, read, 1, 2, (ERROR, 0x07, None))]
    for session, (what, srv, method, iface, proto, (kind, code, payload)) in enumerate(cases, 1):
        peer.methods.sendto(message(srv << 16 | method, 0x4200 << 16 | session, REQUEST,
                                    calls[0xF190, read], iface, proto=proto)[0],
                            ("127.0.0.2", port + 1))
        reply, body = answer(peer, time.monotonic() + 5)
        check(reply is not None and (reply.srv_id, reply.method_id, reply.client_id,
                                     reply.session_id, reply.msg_type, reply.retcode) ==
              (srv, method, 0x4200, session, kind, code) and payload in (None, body),
              "%s: %r" % (what, reply))

    dm.send_signal(signal.SIGTERM)
    stopped, deadline = set(), time.monotonic() + 5
    while stopped != expected and time.monotonic() < deadline:
        got = peer.receive(deadline)
        stopped |= {e.srv_id for e, _ in sd_entries(got and got[2])
                    if e.type == OFFER and e.ttl == 0}
    check(stopped == expected, "StopOffer for %d of %d services" % (len(stopped), len(expected)))
    check(stop(dm) == 0, "dmsim --offer exits 0 on SIGTERM, got %s" % dm.returncode)


def pair(dmsim, port, folder):
    listed, profile, _ = catalogue(dmsim, folder)
    requests = ["22 " + e["identifier"] for e in listed if e["kind"] == "did"]
    for e in listed:  # a routine starts with as many option bytes as it takes: "3", "n", "2+n"
        count = next((m["option_bytes"] for m in e["methods"] if m["name"] == "Start"), None)
        requests += [] if count is None else ["31 01 %s %s" % (e["identifier"], (bytes(
            0 if count == "n" else int(count.split("+")[0])) + b"\x01" * ("n" in count)).hex())]
    args = ["--log-level", "debug"] + requests
    status, out, log = run([dmsim, "--vehicle", profile] + args)

    pcap = os.path.join(folder, "pair.pcap")
    dumpcap = capture(pcap, [port, port + 1])
    vehicle = start([dmsim, "--vehicle", profile, "--offer", "127.0.0.4:%d" % (port + 1),
                     "--sd-port", str(port)])
    someip_status, someip_out, someip_log = run(
        [dmsim, "--someip", "127.0.0.5", "--sd-port", str(port)] + args)
    check(stop(vehicle) == 0, "dmsim --offer exits 0 on SIGTERM, got %s" % vehicle.returncode)
    check_capture(dumpcap, pcap, [port, port + 1])

    check(len(out) == len(requests) == 109 and someip_status == status == 0,
          "exit status %s in-process, %s over SOME/IP" % (status, someip_status))
    differ = [(a, b) for a, b in zip(out, someip_out) if a != b]
    check(someip_out == out, "%d answers differ, first: %s" % (len(differ), differ[:1]))

    def incidents(lines, only=""):
        return [line for line in lines if not line.startswith("dmsim") and only in line]
    here, there = Counter(incidents(log)), Counter(incidents(someip_log))
    check(here == there and
          incidents(someip_log, '"Method_call') == incidents(log, '"Method_call'),
          "incident lines: %d only in-process, first %s; %d only over SOME/IP, first %s" % (
              sum((here - there).values()), min(here - there, default="")[:300],
              sum((there - here).values()), min(there - here, default="")[:300]))


def main():
    scenario, dmsim, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    folder = os.path.join(sys.argv[4], scenario)  # files of its own: scenarios run at once
    os.makedirs(folder, exist_ok=True)
    try:
        {"service": service, "client": client, "pair": pair}[scenario](dmsim, port, folder)
    finally:
        for process in started:
            if process.poll() is None:
                stop(process)
    print("%s: %s" % (scenario, failures or "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
