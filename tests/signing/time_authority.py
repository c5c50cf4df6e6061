#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamping authority on 127.0.0.1, for the
signing test only: `openssl ts -reply` behind a small HTTP responder, with
an authority certificate of its own (critical extended key usage
timeStamping) issued by a root made for it, so that a verifier must be given
that root apart from the code-signing one.

    time_authority.py DIR

makes DIR/tsa-ca.crt (the root to verify timestamps with), then listens and
prints one line, "PORT CLOSED_PORT", once requests can be sent: PORT takes
requests; CLOSED_PORT is a port held bound but not listening, so a
connection to it is refused for as long as the authority runs. It answers a
POST to

    /          with a timestamp;
    /refuse    with the authority's refusal (an RFC 3161 "rejection": it
               stamps only SHA-512 digests);
    /garbage   with bytes that are no reply at all;
    /once      with a timestamp the first time, a refusal afterwards (an
               authority that goes away between two signings).

It runs until it is terminated.
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
dir = {dir}
serial = $dir/serial
signer_cert = $dir/tsa.crt
signer_key = $dir/tsa.key
certs = $dir/tsa-ca.crt
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = no
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256

[ refusing ]
dir = {dir}
serial = $dir/serial
signer_cert = $dir/tsa.crt
signer_key = $dir/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha512
"""


def openssl(*args):
    subprocess.run(("openssl",) + args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_authority(folder):
    """The root, the authority's certificate and key, and openssl's
    configuration, all in folder."""
    os.makedirs(folder, exist_ok=True)
    path = lambda name: os.path.join(folder, name)  # noqa: E731
    os.umask(0o077)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("tsa-ca.key"), "-out",
            path("tsa-ca.crt"), "-days", "3650", "-subj", "/CN=Quorin Test Timestamp CA",
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", path("tsa.key"), "-out", path("tsa.csr"),
            "-subj", "/CN=Quorin Test Timestamp Authority")
    with open(path("extensions"), "w") as out:
        out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                  "extendedKeyUsage=critical,timeStamping\n")
    openssl("x509", "-req", "-in", path("tsa.csr"), "-CA", path("tsa-ca.crt"), "-CAkey", path("tsa-ca.key"),
            "-set_serial", "1", "-days", "3650", "-extfile", path("extensions"), "-out", path("tsa.crt"))
    for name in ("tsa-ca.key", "tsa.csr", "extensions"):
        os.remove(path(name))
    with open(path("serial"), "w") as out:
        out.write("01\n")
    with open(path("tsa.cnf"), "w") as out:
        out.write(CONFIG.format(dir=folder))


class Responder(http.server.BaseHTTPRequestHandler):
    folder = ""
    served_once = False

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        query = self.rfile.read(length) if length > 0 else b""
        path = self.path.split("?")[0]
        if path == "/garbage":
            self.answer(200, b"this is no timestamp reply\n")
            return
        section = "granting"
        if path == "/refuse" or (path == "/once" and Responder.served_once):
            section = "refusing"
        elif path == "/once":
            Responder.served_once = True
        elif path != "/":
            self.answer(404, b"")
            return
        reply = self.stamp(query, section)
        if reply is None:
            self.answer(500, b"")
        else:
            self.answer(200, reply)

    def stamp(self, query, section):
        config = os.path.join(self.folder, "tsa.cnf")
        with tempfile.TemporaryDirectory(dir=self.folder) as work:
            request = os.path.join(work, "request.tsq")
            reply = os.path.join(work, "reply.tsr")
            with open(request, "wb") as out:
                out.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-section", section,
                                   "-queryfile", request, "-out", reply],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if done.returncode != 0 or not os.path.exists(reply):
                return None
            with open(reply, "rb") as data:
                return data.read()

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
    folder = os.path.abspath(sys.argv[1])
    make_authority(folder)
    Responder.folder = folder
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))
    server = http.server.HTTPServer(("127.0.0.1", 0), Responder)
    print(server.server_address[1], closed.getsockname()[1], flush=True)
    try:
        server.serve_forever()
    finally:
        server.server_close()
        closed.close()


if __name__ == "__main__":
    main()
