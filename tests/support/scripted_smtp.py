"""A scripted SMTP peer for faults a real server will not produce.

Every connection plays the script given as JSON, a list of steps:
  {"send": text}        send the text as it stands (UTF-8)
  {"read": "line"}      wait for one line from the client
  {"read": "data"}      wait for the lines of a message text up to "." alone
  {"readBytes": n}      wait for n more bytes from the client
  {"stall": true}       answer nothing more until the client goes
  {"close": true}       close the connection
  {"endless": prefix, "lines": bool}
                        send the prefix, then "x" without end (lines false) or
                        the prefix as a line again and again (lines true)
After the last step the peer answers nothing and waits for the client to go.

Everything the client sends is reported on stdout as it arrives, so the test
reads the conversation byte for byte: "OPEN <n>", "C <n> <base64 bytes>",
"CLOSED <n>" (n counts connections from 0), after "READY <port>".
Ends when stdin closes or on SIGTERM.
"""

import argparse
import asyncio
import base64
import json
import os
import sys

sys.dont_write_bytecode = True  # the peers run from the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peer_common import run_until_stopped  # noqa: E402

ENDLESS_LIMIT = 1 << 30  # a client that reads for ever still ends the test


def report(*words):
    sys.stdout.write(" ".join(str(w) for w in words) + "\n")
    sys.stdout.flush()


class Connection:
    def __init__(self, number, reader, writer):
        self.number = number
        self.reader = reader
        self.writer = writer
        self.buffer = bytearray()
        self.eof = False
        self.arrived = asyncio.Event()

    async def pump(self):
        try:
            while True:
                chunk = await self.reader.read(65536)
                if not chunk:
                    break
                report("C", self.number, base64.b64encode(chunk).decode())
                self.buffer += chunk
                self.arrived.set()
        except (ConnectionError, OSError):
            pass
        self.eof = True
        self.arrived.set()

    async def wait_until(self, ready):
        while not ready():
            if self.eof:
                return False
            self.arrived.clear()
            await self.arrived.wait()
        return True

    async def read_line(self):
        if not await self.wait_until(lambda: b"\n" in self.buffer):
            return None
        end = self.buffer.index(b"\n") + 1
        line = bytes(self.buffer[:end])
        del self.buffer[:end]
        return line

    async def read_data(self):
        while True:
            line = await self.read_line()
            if line is None or line == b".\r\n":
                return

    async def read_bytes(self, n):
        await self.wait_until(lambda: len(self.buffer) >= n)
        del self.buffer[:n]

    async def endless(self, prefix, lines):
        sent = 0
        unit = (prefix + "\r\n").encode() * 4096 if lines else b"x" * 65536
        try:
            if not lines:
                self.writer.write(prefix.encode())
            while not self.eof and sent < ENDLESS_LIMIT:
                self.writer.write(unit)
                sent += len(unit)
                await self.writer.drain()
        except (ConnectionError, OSError):
            pass

    async def play(self, script):
        for step in script:
            if "send" in step:
                self.writer.write(step["send"].encode())
                await self.writer.drain()
            elif step.get("read") == "line":
                await self.read_line()
            elif step.get("read") == "data":
                await self.read_data()
            elif "readBytes" in step:
                await self.read_bytes(step["readBytes"])
            elif step.get("stall"):
                break
            elif step.get("close"):
                return
            elif "endless" in step:
                await self.endless(step["endless"], step.get("lines", False))
            else:
                raise ValueError("unknown step %r" % step)
        await self.wait_until(lambda: False)


async def main():
    p = argparse.ArgumentParser()
    p.add_argument("--bind", default="127.0.0.1")
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--script", required=True)
    args = p.parse_args()
    script = json.loads(args.script)
    count = 0

    async def serve(reader, writer):
        nonlocal count
        conn = Connection(count, reader, writer)
        count += 1
        report("OPEN", conn.number)
        pump = asyncio.create_task(conn.pump())
        try:
            await conn.play(script)
        except (ConnectionError, OSError):
            pass
        writer.close()
        await pump
        report("CLOSED", conn.number)

    server = await asyncio.start_server(serve, args.bind, args.port, limit=1 << 20)
    await run_until_stopped(server)


if __name__ == "__main__":
    asyncio.run(main())
