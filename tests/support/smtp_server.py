"""A real SMTP server for the tests: aiosmtpd with a handler of our own.

Prints "READY <port>" on stdout once it listens and "MESSAGE <n>" after it has
stored message n; ends when stdin closes (the test process went away) or on
SIGTERM. Every accepted message is stored in the folder as <n>.eml (the data
byte for byte, dot-stuffing undone) and <n>.json (envelope, HELO name, TLS,
log-in). Every AUTH attempt is appended to auth.jsonl.
"""

import argparse
import asyncio
import json
import logging
import os
import ssl
import sys

sys.dont_write_bytecode = True  # the peers run from the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peer_common import run_until_stopped  # noqa: E402

from aiosmtpd.smtp import MISSING, SMTP, AuthResult


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--bind", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--folder", required=True)
    p.add_argument("--auth", choices=["none", "login-plain", "plain"], default="none")
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    p.add_argument("--cert", default="")
    p.add_argument("--key", default="")
    p.add_argument("--refuse-ehlo", action="store_true")
    p.add_argument("--refuse-rcpt", action="append", default=[])
    p.add_argument("--data-reply", default="")
    p.add_argument("--drop-in-data", action="append", default=[])
    return p.parse_args()


def is_tls(server):
    return server.transport is not None and server.transport.get_extra_info("ssl_object") is not None


class Handler:
    def __init__(self, args):
        self.args = args
        self.count = 0
        self.refused = {a.lower() for a in args.refuse_rcpt}
        self.drops = {a.lower() for a in args.drop_in_data}

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        if self.args.refuse_ehlo:
            return ["502 5.5.2 Error: command not recognized"]
        session.host_name = hostname
        if self.args.auth == "none":
            responses = [r for r in responses if not r[4:].startswith("AUTH")]
        return responses

    async def handle_HELO(self, server, session, envelope, hostname):
        session.host_name = hostname
        return "250 " + server.hostname

    async def handle_AUTH(self, server, session, envelope, args):
        if self.args.auth == "none":
            return "502 5.5.1 AUTH not offered"
        return MISSING

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.refused:
            return "550 5.1.1 <%s>: Recipient address rejected: User unknown" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if any(r.lower() in self.drops for r in envelope.rcpt_tos):
            # The reply below never leaves: the transport is closed already.
            server.transport.close()
            return "421 4.3.0 Dropped"
        reply = self.args.data_reply or "250 OK"
        if reply.startswith("2"):
            self.count += 1
            n = self.count
            base = os.path.join(self.args.folder, "%04d" % n)
            write_file(base + ".eml", envelope.original_content)
            meta = {
                "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos,
                "helo": session.host_name or "",
                "tls": is_tls(server),
                "login": login_of(session),
            }
            write_file(base + ".json", json.dumps(meta).encode())
            print("MESSAGE %d" % n, flush=True)
        return reply

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        login = auth_data.login.decode("utf-8", "replace")
        password = auth_data.password.decode("utf-8", "replace")
        ok = login == self.args.user and password == self.args.password
        attempt = {"mechanism": mechanism, "login": login, "password": password,
                   "accepted": ok, "tls": is_tls(server)}
        with open(os.path.join(self.args.folder, "auth.jsonl"), "a") as f:
            f.write(json.dumps(attempt) + "\n")
        print("AUTH", flush=True)
        # handled=False: aiosmtpd itself answers a refusal with 535.
        return AuthResult(success=ok, handled=False, auth_data=login if ok else None)


def login_of(session):
    return session.auth_data if session.authenticated and isinstance(session.auth_data, str) else ""


def write_file(path, data):
    # Written whole, then renamed: a reader never sees half a message.
    with open(path + ".part", "wb") as f:
        f.write(data)
    os.replace(path + ".part", path)


def tls_context(args):
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(args.cert, args.key)
    return ctx


async def main():
    args = parse_args()
    # aiosmtpd warns about its own deprecated log-in field on every AUTH.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    handler = Handler(args)
    ctx = tls_context(args) if args.tls != "none" else None
    exclude = {"none": [], "login-plain": [], "plain": ["LOGIN"]}[args.auth]

    def factory():
        return SMTP(handler, hostname="peer.test",
                    tls_context=ctx if args.tls == "starttls" else None,
                    auth_require_tls=False, auth_exclude_mechanism=exclude,
                    authenticator=handler.authenticate)

    loop = asyncio.get_running_loop()
    server = await loop.create_server(factory, host=args.bind, port=args.port,
                                      ssl=ctx if args.tls == "implicit" else None)
    await run_until_stopped(server)


if __name__ == "__main__":
    asyncio.run(main())
