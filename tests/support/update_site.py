"""An update site for the update check: serves the files of a folder over
HTTP/1.1 on loopback, and plays the faults a real server will not produce.

  --root DIR            the files served, by name ("/APP_NAME.TXT")
  --break NAME:BYTES    NAME is announced at its full size, but only its
                        first BYTES are sent before the connection closes
  --stall NAME          NAME gets its headers and then nothing more
  --unsized NAME        NAME is sent without its size, ending with the connection
  --redirect NAME:URL   NAME is answered with a redirection to URL
A name that is not in the folder is answered with 404.

Every request is reported on stdout after "READY <port>":
  "GET <path> <User-Agent> | <Accept>"
Ends when stdin closes or on SIGTERM.
"""

import argparse
import asyncio
import os
import sys

sys.dont_write_bytecode = True  # the peers run from the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peer_common import run_until_stopped  # noqa: E402


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--bind", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--root", required=True)
    p.add_argument("--break", dest="breaks", action="append", default=[])
    p.add_argument("--stall", action="append", default=[])
    p.add_argument("--unsized", action="append", default=[])
    p.add_argument("--redirect", action="append", default=[])
    return p.parse_args()


ARGS = parse_args()
BREAKS = dict((b.rsplit(":", 1)[0], int(b.rsplit(":", 1)[1])) for b in ARGS.breaks)
REDIRECTS = dict(r.split(":", 1) for r in ARGS.redirect)


async def handle(reader, writer):
    try:
        while True:
            request = await reader.readline()
            if not request:
                return
            headers = {}
            while True:
                line = await reader.readline()
                if line in (b"\r\n", b"\n", b""):
                    break
                key, _, value = line.decode("latin-1").partition(":")
                headers[key.strip().lower()] = value.strip()
            method, path, _ = request.decode("latin-1").split(" ", 2)
            print("%s %s %s | %s" % (method, path, headers.get("user-agent", ""),
                                     headers.get("accept", "")), flush=True)
            name = path.lstrip("/")
            if name in REDIRECTS:
                writer.write(b"HTTP/1.1 302 Found\r\nLocation: %s\r\nContent-Length: 0\r\n\r\n"
                             % REDIRECTS[name].encode())
                await writer.drain()
                continue
            file = os.path.join(ARGS.root, name)
            if "/" in name or not os.path.isfile(file):
                body = b"<html><body>Not here</body></html>"
                writer.write(b"HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n"
                             b"Content-Length: %d\r\n\r\n" % len(body) + body)
                await writer.drain()
                continue
            with open(file, "rb") as f:
                body = f.read()
            head = (b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                    b"Content-Length: %d\r\n\r\n" % len(body))
            if name in ARGS.stall:
                writer.write(head)
                await writer.drain()
                await reader.read()  # until the client gives up
                return
            if name in ARGS.unsized:
                writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                             b"Connection: close\r\n\r\n" + body)
                await writer.drain()
                return
            if name in BREAKS:
                writer.write(head + body[:BREAKS[name]])
                await writer.drain()
                return
            # In pieces, so that the client sees its progress move.
            writer.write(head)
            for at in range(0, len(body), 65536):
                writer.write(body[at:at + 65536])
                await writer.drain()
    except (ConnectionError, ValueError):
        pass
    finally:
        writer.close()


async def main():
    server = await asyncio.start_server(handle, ARGS.bind, ARGS.port)
    await run_until_stopped(server)


asyncio.run(main())
