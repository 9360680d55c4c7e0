#!/usr/bin/python3
"""A syslog receiver that tells broadcast from unicast: binds UDP port 514 on ADDRESS, creates
READY_FILE, then prints "DESTINATION PAYLOAD" for every datagram, the destination taken from
the packet's header (IP_PKTINFO), until it is stopped or LIFETIME seconds (default 600) have
passed. Meant for private network namespaces.

usage: syslog_listener.py ADDRESS READY_FILE [LIFETIME]
"""

import socket
import sys
import time

IP_PKTINFO = 8  # Linux; the socket module does not name it


def main():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
    s.bind((sys.argv[1], 514))
    open(sys.argv[2], "w").close()
    end = time.monotonic() + (float(sys.argv[3]) if len(sys.argv) > 3 else 600)
    while True:
        left = end - time.monotonic()
        if left <= 0:
            return
        s.settimeout(left)
        try:
            data, ancillary, _, _ = s.recvmsg(65536, 256)
        except socket.timeout:
            return
        dest = "?"
        for level, kind, value in ancillary:
            if level == socket.IPPROTO_IP and kind == IP_PKTINFO:
                dest = socket.inet_ntoa(value[8:12])  # after ifindex and spec_dst
        print(dest, data.decode("latin-1"), flush=True)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        pass
