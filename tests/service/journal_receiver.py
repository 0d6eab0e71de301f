#!/usr/bin/env python3
"""Stands in for journald's socket: appends every datagram it receives, decoded into
FIELD=value lines (the binary-safe form included), to a file, one blank line after each
entry. Usage: journal_receiver.py SOCKET OUTPUT"""
import os
import socket
import struct
import sys


def fields(datagram):
    out, rest = [], datagram
    while rest:
        line, sep, after = rest.partition(b"\n")
        if b"=" in line:
            out.append(line)
            rest = after
            continue
        # NAME\n<64-bit little-endian length><value>\n
        size = struct.unpack("<Q", after[:8])[0]
        out.append(line + b"=" + after[8:8 + size])
        rest = after[8 + size + 1:]
    return out


def main():
    path, output = sys.argv[1], sys.argv[2]
    server = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    server.bind(path)
    os.chmod(path, 0o666)
    with open(output + ".ready", "w"):
        pass
    while True:
        datagram = server.recv(1 << 20)
        with open(output, "ab") as entries:
            entries.write(b"\n".join(fields(datagram)) + b"\n\n")


main()
