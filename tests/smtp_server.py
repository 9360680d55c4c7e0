#!/usr/bin/python3
"""A real SMTP relay for the mail tests: aiosmtpd with AUTH LOGIN over plain connections, with
STARTTLS (--starttls CERT KEY; AUTH is then offered only after the handshake) or with TLS from
the first byte (--tls CERT KEY, as on port 465).

Records every line each side sends (transcript: "C: ..." for the client, "S: ..." for the
server) and the client's raw bytes, and misbehaves on request. Listens on 127.0.0.1 at a port
the system picks and prints "READY <port>" once it listens, then "CLOSED" whenever a
connection has ended; each TLS session's protocol and cipher go to standard error as
"TLS <version> <cipher>". Meant to run inside the tests' private network namespace only.
"""

import argparse
import asyncio
import logging
import socket
import ssl
import struct
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--transcript", required=True)
    p.add_argument("--raw", required=True)
    p.add_argument("--user", default="opsmail.brindle")
    p.add_argument("--password", default="pq4tnvkxe")
    p.add_argument("--greeting", help="reply sent instead of the 220 greeting; then closes")
    p.add_argument("--reply", action="append", default=[],
                   help="VERB=TEXT or RCPT:address=TEXT; '|' separates the lines of a "
                        "multi-line reply; EOD is the reply to the end of the data")
    p.add_argument("--no-auth", action="store_true", help="offer no AUTH and refuse it")
    p.add_argument("--silent", action="store_true", help="accept, then never say a word")
    p.add_argument("--close-after-ehlo", action="store_true",
                   help="close the connection together with the EHLO reply")
    p.add_argument("--reset-on", help="reset the connection when this command arrives")
    p.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"), help="offer STARTTLS")
    p.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), help="TLS from the first byte")
    p.add_argument("--inject-after-starttls",
                   help="answer STARTTLS with 220 and this text in the same segment, then "
                        "stay in plain text (a man in the middle's plaintext injection)")
    return p.parse_args()


warnings.filterwarnings("ignore")
logging.getLogger("mail.log").setLevel(logging.ERROR)  # aiosmtpd's notes on its own deprecations
ARGS = parse_args()
REPLIES = {}
for item in ARGS.reply:
    key, _, text = item.partition("=")
    REPLIES[key] = "\r\n".join(text.split("|"))


class Recorder:
    def __init__(self):
        self.transcript = open(ARGS.transcript, "a", encoding="latin-1", newline="")
        self.raw = open(ARGS.raw, "ab")
        self.pending = b""

    def client_bytes(self, data):
        self.raw.write(data)
        self.raw.flush()
        self.pending += data
        while b"\r\n" in self.pending:
            line, _, self.pending = self.pending.partition(b"\r\n")
            self.line("C", line.decode("latin-1"))

    def server_text(self, text):
        for line in text.split("\r\n"):
            self.line("S", line)

    def line(self, side, text):
        self.transcript.write(f"{side}: {text}\n")
        self.transcript.flush()


RECORDER = Recorder()


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (mechanism in ("LOGIN", "PLAIN") and auth_data.login == ARGS.user.encode()
          and auth_data.password == ARGS.password.encode())
    return AuthResult(success=ok, handled=False)


class Handler:
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if ARGS.no_auth:
            responses = [r for r in responses if not r[4:].upper().startswith("AUTH")]
        return responses

    async def handle_DATA(self, server, session, envelope):
        return REPLIES.get("EOD", "250 2.0.0 Ok: queued")


def tls_context(pair):
    if not pair:
        return None
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(pair[0], pair[1])
    return context


STARTTLS_CONTEXT = tls_context(ARGS.starttls)
if ARGS.inject_after_starttls and STARTTLS_CONTEXT is None:
    sys.exit("--inject-after-starttls needs --starttls")


class RecordingSMTP(SMTP):
    def __init__(self):
        # aiosmtpd does not count TLS from the first byte as TLS, and would refuse AUTH there.
        super().__init__(Handler(), hostname="relay.test", ident="ESMTP test relay",
                         tls_context=STARTTLS_CONTEXT,
                         auth_require_tls=STARTTLS_CONTEXT is not None,
                         authenticator=authenticator)
        self._greeted = False
        self._replace_next = None
        self.AuthLoginUsernameChallenge = "Username:"
        self.AuthLoginPasswordChallenge = "Password:"
        for verb in ("EHLO", "HELO", "AUTH", "MAIL", "RCPT", "DATA", "STARTTLS"):
            self._smtp_methods[verb] = self._wrap(verb, self._smtp_methods[verb])
        if ARGS.no_auth:
            REPLIES.setdefault("AUTH", "503 5.5.1 Error: authentication not enabled")

    def _wrap(self, verb, method):
        async def wrapped(arg):
            if ARGS.reset_on == verb:
                sock = self.transport.get_extra_info("socket")
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.transport.abort()
                return
            if verb == "STARTTLS" and ARGS.inject_after_starttls:
                text = "220 Ready to start TLS\r\n" + ARGS.inject_after_starttls
                RECORDER.server_text(text)
                self._writer.write(text.encode("latin-1") + b"\r\n")
                return
            canned = REPLIES.get(verb)
            if verb == "RCPT" and arg:
                for key, text in REPLIES.items():
                    if key.startswith("RCPT:") and key[5:] in arg:
                        canned = text
            if canned is None:
                await method(arg)
            elif canned.startswith("2"):
                # Let the server do the work, then answer with the canned text.
                self._replace_next = canned
                await method(arg)
            else:
                await self.push(canned)
            if verb == "EHLO" and ARGS.close_after_ehlo:
                self.transport.close()
        return wrapped

    def report_tls(self):
        ssl_object = self.transport.get_extra_info("ssl_object")
        if ssl_object is not None:
            print(f"TLS {ssl_object.version()} {ssl_object.cipher()[0]}", file=sys.stderr,
                  flush=True)

    async def smtp_STARTTLS(self, arg):
        await super().smtp_STARTTLS(arg)
        self.report_tls()

    def connection_made(self, transport):
        if ARGS.close_after_ehlo:
            # Corked, the EHLO reply leaves in one segment with the close that follows it,
            # so the client sees both at once.
            sock = transport.get_extra_info("socket")
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_CORK, 1)
        super().connection_made(transport)
        if ARGS.tls and not self._greeted:
            self.report_tls()

    def data_received(self, data):
        RECORDER.client_bytes(data)
        super().data_received(data)

    def connection_lost(self, error):
        print("CLOSED", flush=True)
        super().connection_lost(error)

    async def push(self, status):
        if isinstance(status, bytes):
            status = status.decode("latin-1")
        if not self._greeted:
            self._greeted = True
            if ARGS.greeting:
                RECORDER.server_text(ARGS.greeting)
                self._writer.write(ARGS.greeting.encode("latin-1") + b"\r\n")
                self.transport.close()
                return
        if ARGS.silent:
            return
        if self._replace_next is not None and status.startswith("2"):
            status, self._replace_next = self._replace_next, None
        RECORDER.server_text(status)
        await super().push(status)


async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(RecordingSMTP, "127.0.0.1", 0, ssl=tls_context(ARGS.tls))
    port = server.sockets[0].getsockname()[1]
    print(f"READY {port}", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
