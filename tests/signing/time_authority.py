#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamping authority on 127.0.0.1 for the signing
test: `openssl ts -reply` behind a small HTTP responder, with a root of its
own (so that a verifier must be given it apart from the code-signing one)
and an authority certificate whose only extended key usage, critical, is
timeStamping, as openssl requires.

    time_authority.py DIR

makes DIR/tsa-ca.crt, then prints "PORT CLOSED_PORT" once it takes requests.
CLOSED_PORT is held bound but not listening, so a connection to it is
refused while the authority runs. A POST to / gets a timestamp; /refuse an
RFC 3161 rejection (that section stamps only SHA-512 digests); /garbage
bytes that are no reply; /once a timestamp the first time and a rejection
afterwards. It runs until it is terminated.
"""

import http.server
import os
import socket
import subprocess
import sys
import tempfile

CONFIG = """\
[ tsa ]
default_tsa = granting
[ granting ]
serial = {dir}/serial
signer_cert = {dir}/tsa.crt
signer_key = {dir}/tsa.key
certs = {dir}/tsa-ca.crt
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
[ refusing ]
serial = {dir}/serial
signer_cert = {dir}/tsa.crt
signer_key = {dir}/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha512
"""


def make_authority(folder):
    def openssl(*args):
        subprocess.run(("openssl",) + args, cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    os.makedirs(folder, exist_ok=True)
    os.umask(0o077)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa-ca.key", "-out", "tsa-ca.crt",
            "-days", "3650", "-subj", "/CN=Quorin Test Timestamp CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa.key", "-out", "tsa.csr",
            "-subj", "/CN=Quorin Test Timestamp Authority")
    with open(os.path.join(folder, "extensions"), "w") as out:
        out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                  "extendedKeyUsage=critical,timeStamping\n")
    openssl("x509", "-req", "-in", "tsa.csr", "-CA", "tsa-ca.crt", "-CAkey", "tsa-ca.key", "-set_serial", "1",
            "-days", "3650", "-extfile", "extensions", "-out", "tsa.crt")
    for name in ("tsa-ca.key", "tsa.csr", "extensions"):
        os.remove(os.path.join(folder, name))
    with open(os.path.join(folder, "serial"), "w") as out:
        out.write("01\n")
    with open(os.path.join(folder, "tsa.cnf"), "w") as out:
        out.write(CONFIG.format(dir=folder))


class Responder(http.server.BaseHTTPRequestHandler):
    folder = ""
    once_served = False

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        path = self.path.split("?")[0]
        if path == "/garbage":
            return self.answer(200, b"this is no timestamp reply\n")
        if path not in ("/", "/refuse", "/once"):
            return self.answer(404, b"")
        refuse = path == "/refuse" or (path == "/once" and Responder.once_served)
        Responder.once_served = Responder.once_served or path == "/once"
        with tempfile.TemporaryDirectory(dir=self.folder) as work:
            request, reply = os.path.join(work, "request.tsq"), os.path.join(work, "reply.tsr")
            with open(request, "wb") as out:
                out.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(self.folder, "tsa.cnf"),
                                   "-section", "refusing" if refuse else "granting",
                                   "-queryfile", request, "-out", reply],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if done.returncode != 0:
                return self.answer(500, b"")
            with open(reply, "rb") as data:
                self.answer(200, data.read())

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: time_authority.py DIR")
    Responder.folder = os.path.abspath(sys.argv[1])
    make_authority(Responder.folder)
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))
    server = http.server.HTTPServer(("127.0.0.1", 0), Responder)
    print(server.server_address[1], closed.getsockname()[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
