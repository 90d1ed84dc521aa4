#!/usr/bin/env python3
"""A UDP relay between two call peers that impairs the traffic as tc netem would: loss,
duplicates, jitter (a normal spread around a base delay, so that datagrams overtake each other)
and reordering (some datagrams skip the delay). For kernels without sch_netem: the two peers talk
through this host instead of directly.

Usage: impairing_relay.py LISTEN_IP PORT PEER_A_IP PEER_B_IP SECONDS
Datagrams from A go to B and from B to A, each on PORT; the relay sends from LISTEN_IP:PORT, so a
caller that announces LISTEN_IP is answered through the relay. Prints what it did at the end.
"""
import heapq
import random
import select
import socket
import sys
import time

LOSS, DUPLICATE, REORDER = 0.05, 0.01, 0.10
DELAY, JITTER = 0.030, 0.020  # seconds

listen_ip, port, peer_a, peer_b, seconds = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], float(sys.argv[5])
random.seed(20261209)
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind((listen_ip, port))
sock.setblocking(False)
# The caller's request is the first datagram: whoever starts the call waits for this line.
print("relay: listening", flush=True)
pending = []  # (time to send, sequence, datagram, destination)
counts = {"relayed": 0, "lost": 0, "duplicated": 0, "reordered": 0}
sequence = 0
end = time.monotonic() + seconds


def schedule(datagram, destination, now):
    global sequence
    if random.random() < REORDER:
        counts["reordered"] += 1
        delay = 0.0
    else:
        delay = max(0.0, random.gauss(DELAY, JITTER))
    sequence += 1
    heapq.heappush(pending, (now + delay, sequence, datagram, destination))


while time.monotonic() < end:
    now = time.monotonic()
    timeout = max(0.0, min(0.005, pending[0][0] - now)) if pending else 0.005
    readable, _, _ = select.select([sock], [], [], timeout)
    now = time.monotonic()
    if readable:
        while True:
            try:
                datagram, (source, _) = sock.recvfrom(65536)
            except BlockingIOError:
                break
            if source not in (peer_a, peer_b):
                continue
            destination = (peer_b if source == peer_a else peer_a, port)
            if random.random() < LOSS:
                counts["lost"] += 1
                continue
            schedule(datagram, destination, now)
            if random.random() < DUPLICATE:
                counts["duplicated"] += 1
                schedule(datagram, destination, now)
    while pending and pending[0][0] <= now:
        _, _, datagram, destination = heapq.heappop(pending)
        try:
            sock.sendto(datagram, destination)
            counts["relayed"] += 1
        except OSError:
            pass
print("relay: " + ", ".join(f"{name} {count}" for name, count in counts.items()))
