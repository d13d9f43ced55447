#!/usr/bin/env python3
"""A TLS server that completes the handshake and then stalls, for the faults
nginx will not produce: /head reads the request and sends nothing; /body
sends the head and 3000 of 9000 declared bytes, then nothing. A connection is
held for a minute at most.

usage: tls-stall-server.py start DIR CERT KEY   (writes DIR/port, DIR/pid)
       tls-stall-server.py stop DIR
"""
import os
import signal
import socket
import ssl
import sys
import threading
import time

HOLD_SECONDS = 60


def stall(context, client):
    try:
        with context.wrap_socket(client, server_side=True) as tls:
            tls.settimeout(HOLD_SECONDS)
            head = b""
            while b"\r\n\r\n" not in head:
                data = tls.recv(4096)
                if not data:
                    return
                head += data
            if head.split(b" ")[1].startswith(b"/body"):
                tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 9000\r\n\r\n" + b"x" * 3000)
            time.sleep(HOLD_SECONDS)
    except (OSError, ssl.SSLError, IndexError):
        pass


def serve(listener, context):
    while True:
        client, _ = listener.accept()
        threading.Thread(target=stall, args=(context, client), daemon=True).start()


def start(directory, cert, key):
    stop(directory)
    os.makedirs(directory, exist_ok=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    port = listener.getsockname()[1]
    pid = os.fork()
    if pid == 0:
        # Away from ctest's output, which it waits on until every holder lets go.
        os.setsid()
        null = os.open(os.devnull, os.O_RDWR)
        for stream in (0, 1, 2):
            os.dup2(null, stream)
        serve(listener, context)
        os._exit(0)
    with open(os.path.join(directory, "pid"), "w") as f:
        f.write(f"{pid}\n")
    with open(os.path.join(directory, "port"), "w") as f:
        f.write(f"{port}\n")
    print(port, pid)


def stop(directory):
    try:
        with open(os.path.join(directory, "pid")) as f:
            pid = int(f.read())
        os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        pass
    for name in ("pid", "port"):
        try:
            os.remove(os.path.join(directory, name))
        except OSError:
            pass


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "start":
        start(*sys.argv[2:])
    elif len(sys.argv) == 3 and sys.argv[1] == "stop":
        stop(sys.argv[2])
    else:
        sys.exit(__doc__)
