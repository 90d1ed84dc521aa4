#!/usr/bin/env python3
"""A presence copy written independently of the program, for the LAN tests: it holds the presence
box of its host, broadcasts one message text, then prints every message it hears for a while, one
line each: "<seconds since the send> <computer> <text lines joined by '|'>".

Usage: presence_probe.py TEXT BROADCAST_ADDRESS SECONDS
"""
import socket
import sys
import time


def box_port(name):
    value = 0x811C9DC5
    for byte in name.upper().encode("ascii"):
        value = ((value ^ byte) * 0x01000193) & 0xFFFFFFFF
    return 49152 + value % 16384


def main():
    text, broadcast, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    port = box_port("MailBox")
    box = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    box.bind(("0.0.0.0", port))
    sender = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sender.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    message = "\r\n".join(["Message", "probe", socket.gethostname(), text]) + "\r\n"
    start = time.monotonic()
    sender.sendto(message.encode(), (broadcast, port))
    while True:
        left = seconds - (time.monotonic() - start)
        if left <= 0:
            break
        box.settimeout(left)
        try:
            datagram = box.recv(65535)
        except socket.timeout:
            break
        lines = datagram.decode("utf-8", "replace").split("\r\n")
        if len(lines) >= 4 and lines[0] == "Message" and lines[-1] == "":
            print("%.2f %s %s" % (time.monotonic() - start, lines[2], "|".join(lines[3:-1])), flush=True)
        else:
            print("%.2f malformed %r" % (time.monotonic() - start, datagram), flush=True)


if __name__ == "__main__":
    main()
