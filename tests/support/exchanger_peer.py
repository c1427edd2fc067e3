"""A mail exchanger for the direct-delivery tests, on one loopback address.

Modes:
  accept     aiosmtpd; stores every message byte for byte
  refuse     aiosmtpd; refuses every recipient with 550 5.1.1
  starttls   aiosmtpd offering STARTTLS with the given certificate
  brokentls  aiosmtpd offering STARTTLS whose handshake always fails (it
             wants a client certificate the client does not have)
  stall      accepts connections and never says a word

Each message goes to STORE/<n>.eml, with STORE/<n>.json holding the envelope
and whether it came over TLS. Prints "ready" once it listens.
"""
import argparse
import json
import os
import socket
import ssl
import sys
import threading
import time


def parse():
    p = argparse.ArgumentParser()
    p.add_argument("--host", required=True)
    p.add_argument("--port", type=int, default=25)
    p.add_argument("--mode", required=True)
    p.add_argument("--store", required=True)
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--ca")
    return p.parse_args()


class Handler:
    def __init__(self, args):
        self.args = args
        self.count = 0
        self.lock = threading.Lock()

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.args.mode == "refuse":
            return "550 5.1.1 <%s>: the user's mailbox is unavailable" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            n = self.count
        base = os.path.join(self.args.store, str(n))
        with open(base + ".eml.part", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                       "tls": session.ssl is not None, "helo": session.host_name}, f)
        os.rename(base + ".eml.part", base + ".eml")
        return "250 Message accepted for delivery"


def stall(args):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, args.port))
    listener.listen(16)
    print("ready", flush=True)
    held = []
    while True:
        conn, _ = listener.accept()
        held.append(conn)


def main():
    args = parse()
    if args.mode == "stall":
        stall(args)
        return
    from aiosmtpd.controller import Controller
    context = None
    if args.mode in ("starttls", "brokentls"):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        if args.mode == "brokentls":
            context.maximum_version = ssl.TLSVersion.TLSv1_2
            context.verify_mode = ssl.CERT_REQUIRED
            context.load_verify_locations(args.ca)
    controller = Controller(Handler(args), hostname=args.host, port=args.port,
                            tls_context=context, require_starttls=False,
                            server_hostname=args.host, ready_timeout=10)
    controller.start()
    print("ready", flush=True)
    try:
        while True:
            time.sleep(3600)
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
