#!/usr/bin/env python3
"""A TCP relay on loopback that delays each direction by a fixed time, to
stand for a server in another site.

    latency_proxy.py LISTEN_ADDR LISTEN_PORT TARGET_ADDR TARGET_PORT DELAY_MS

Every chunk of bytes read from one side is written to the other DELAY_MS
after it arrived, in order; a round trip through the relay therefore takes
2 x DELAY_MS more than without it.  Runs until killed; prints "ready" on
standard output once it listens."""
import asyncio
import sys
import time


async def pump(reader, writer, delay):
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()

    sender = asyncio.ensure_future(deliver())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            queue.put_nowait((time.monotonic() + delay, data))
    except (ConnectionError, OSError):
        pass
    queue.put_nowait((0, None))
    try:
        await sender
    except (ConnectionError, OSError):
        pass


async def main():
    listen_addr, listen_port, target_addr, target_port, delay_ms = sys.argv[1:6]
    delay = float(delay_ms) / 1000.0

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(target_addr,
                                                                         int(target_port))
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay),
                             pump(server_reader, client_writer, delay))

    server = await asyncio.start_server(handle, listen_addr, int(listen_port))
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
