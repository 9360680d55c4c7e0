"""A notify socket as systemd opens it, for tests/systemd_unit_test.sh.

usage: notify_listener.py SOCKET_PATH OUT_FILE SECONDS
Binds a unix datagram socket at SOCKET_PATH and appends every message it receives to OUT_FILE,
one per line (a line break inside a message becomes " | "), until a message holds STOPPING=1
or SECONDS have passed.
"""
import socket
import sys
import time

path, out, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind(path)
s.settimeout(0.2)
deadline = time.monotonic() + seconds
with open(out, "a", encoding="utf-8") as f:
    while time.monotonic() < deadline:
        try:
            data = s.recv(4096).decode("utf-8", "replace")
        except socket.timeout:
            continue
        f.write(data.replace("\n", " | ") + "\n")
        f.flush()
        if "STOPPING=1" in data.split("\n"):
            break
