#!/usr/bin/env python3
"""The tests' OAuth 2.0 token endpoint: the client credentials grant (RFC 6749 4.4) over HTTPS
on 127.0.0.1, on a port the system chooses, printed as "READY <port>" once it listens.

It is also the provider a mail server asks whether a token is good: a POST of "token=..." to
/introspect (RFC 7662, as Dovecot's oauth2 passdb sends it with introspection_mode = post) is
answered {"active": true, "username": <--token-user>} for the token it hands out and
{"active": false} for any other.

An access token for the right client id, secret and scope; otherwise the error answer a
provider gives ("invalid_client" with its description, "invalid_scope", ...). Every request's
line, content type and form fields go to the transcript, one per line. --chunked sends the
answers in chunks; --silent accepts and never answers. Stop it with SIGTERM.
"""
import argparse
import http.server
import json
import ssl
import sys
import time
import urllib.parse


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--transcript", required=True)
    p.add_argument("--raw", required=True, help="unused; the same switches as the relay")
    p.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), required=True)
    p.add_argument("--client-id", default="app-1")
    p.add_argument("--secret", default="Qx8~s3cret+/=")
    p.add_argument("--scope", default="https://outlook.office365.com/.default")
    p.add_argument("--token", default="eyJ0eXAiOiJKV1QiLCJhbGciOiJSUzI1NiJ9.test.sig")
    p.add_argument("--token-user", default="ups.sender",
                   help="the account the token is for, as the introspection names it")
    p.add_argument("--expires-in", type=int, default=3599)
    p.add_argument("--chunked", action="store_true")
    p.add_argument("--silent", action="store_true")
    return p.parse_args()


ARGS = parse_args()


def record(line):
    with open(ARGS.transcript, "a", encoding="utf-8") as f:
        f.write(line + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, fields):
        body = json.dumps(fields).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Cache-Control", "no-store")
        if ARGS.chunked:
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for at in range(0, len(body), 5):
                piece = body[at:at + 5]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        self.close_connection = True

    def do_POST(self):
        if ARGS.silent:
            time.sleep(60)
            return
        length = int(self.headers.get("Content-Length", "0"))
        form = urllib.parse.parse_qs(self.rfile.read(length).decode(), keep_blank_values=True)
        record("POST " + self.path)
        record("Content-Type: " + str(self.headers.get("Content-Type")))
        for name in sorted(form):
            record("%s=%s" % (name, form[name][0]))
        one = {k: v[0] for k, v in form.items()}
        if self.path == "/introspect":
            if one.get("token") != ARGS.token:
                return self.answer(200, {"active": False})
            return self.answer(200, {"active": True, "username": ARGS.token_user,
                                     "client_id": ARGS.client_id, "scope": ARGS.scope})
        if one.get("grant_type") != "client_credentials":
            return self.answer(400, {"error": "unsupported_grant_type"})
        if one.get("client_id") != ARGS.client_id or one.get("client_secret") != ARGS.secret:
            return self.answer(401, {
                "error": "invalid_client",
                "error_description": "AADSTS7000215: Invalid client secret provided.\r\n"
                                     "Trace ID: 0f1e2d3c",
                "error_codes": [7000215]})
        if one.get("scope") != ARGS.scope:
            return self.answer(400, {"error": "invalid_scope",
                                     "error_description": "AADSTS70011: The scope is not valid."})
        return self.answer(200, {"token_type": "Bearer", "expires_in": ARGS.expires_in,
                                 "ext_expires_in": ARGS.expires_in,
                                 "access_token": ARGS.token})


def main():
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*ARGS.tls)
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print("READY %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
