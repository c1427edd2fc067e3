"""What the Python test peers share: the ready line and how they end."""

import asyncio
import os
import signal
import sys


async def run_until_stopped(server):
    """Prints "READY <port>" and serves until SIGTERM or until stdin closes
    (the test process went away, so no peer outlives its test)."""
    loop = asyncio.get_running_loop()
    stop = loop.create_future()

    def finish():
        if not stop.done():
            stop.set_result(None)

    def stdin_readable():
        if os.read(sys.stdin.fileno(), 4096) == b"":
            finish()

    loop.add_signal_handler(signal.SIGTERM, finish)
    loop.add_reader(sys.stdin.fileno(), stdin_readable)
    print("READY %d" % server.sockets[0].getsockname()[1], flush=True)
    await stop
    server.close()
