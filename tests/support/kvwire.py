#!/usr/bin/env python3
"""The tests' one HTTP peer on loopback: a server that records every request exactly as it
arrived (request line, headers, body) and gives each the answer it was last told. It serves as a
proxy too, since a proxy receives the absolute URL as the request target. Nothing leaves the
machine.

In Python (the end-to-end driver):  wire = Wire(); ...; wire.targets(); wire.close()

For the Windows test programs, one factory runs for a whole test run:
    kvwire.py start STATE_DIR    starts the factory in the background, its port in STATE_DIR/port
    kvwire.py stop STATE_DIR     ends it
A test program asks the factory for a server of its own and then orders that server about, all in
plain HTTP on loopback:
    GET  /kvwire/new?address=A&port=P   a new server on A:P (P 0: any free port); answers its port
    POST /kvwire/answer                 (to the server) body: the answer, as status line, headers,
                                        empty line, body; a header "Reset-After: N" resets the
                                        connection after N body bytes instead of sending the rest
    GET  /kvwire/requests               each request so far: 8 hex digits of length, then its bytes
    GET  /kvwire/clear                  forgets the requests so far
    GET  /kvwire/close                  ends that server
"""
import os
import pathlib
import signal
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse

CONTROL = "/kvwire/"


def read_request(stream):
    """One request's raw bytes, or None at the end of the connection."""
    head = b""
    while not head.endswith(b"\r\n\r\n"):
        line = stream.readline(65537)
        if not line:
            return None
        head += line
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip() or 0)
    return head + stream.read(length)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address="127.0.0.1", port=0, factory=None):
        super().__init__((address, port), Handler)
        self.lock = threading.Lock()
        self.requests = []
        self.status, self.headers, self.body, self.reset_after = 200, [], b"ok", None
        self.factory = factory
        threading.Thread(target=self.serve_forever, daemon=True).start()

    @property
    def port(self):
        return self.server_address[1]

    def answer(self, body=b"ok", status=200, headers=(), reset_after=None):
        with self.lock:
            self.status, self.headers, self.body = status, list(headers), body
            self.reset_after = reset_after

    def targets(self):
        """The request targets so far, in arrival order."""
        with self.lock:
            return [r.split(b" ")[1].decode("latin-1") for r in self.requests]

    def close(self):
        self.shutdown()
        self.server_close()

    def proxy_dat(self):
        """proxy.dat naming this server as the proxy: enabled, host, port, no credentials."""
        def field(text, chars):
            data = text.encode("utf-16-le")
            return data + bytes(chars * 2 - len(data))
        return (struct.pack("<i", 1) + field("127.0.0.1", 100) + field(str(self.port), 12) +
                field("", 50) + field("", 50))

    def control(self, path, query, body):
        """Orders for this server (and, on the factory, for new ones): the answer's body."""
        if path == "new":
            server = Server(query.get("address", "127.0.0.1"), int(query.get("port", "0")))
            return str(server.port).encode()
        if path == "answer":
            head, _, payload = body.partition(b"\r\n\r\n")
            lines = head.decode("latin-1").split("\r\n")
            headers = [tuple(part.strip() for part in line.split(":", 1)) for line in lines[1:]]
            reset = [int(v) for n, v in headers if n.lower() == "reset-after"]
            self.answer(payload, int(lines[0]), [h for h in headers if h[0].lower() != "reset-after"],
                        reset[0] if reset else None)
        elif path == "requests":
            with self.lock:
                return b"".join(b"%08x" % len(r) + r for r in self.requests)
        elif path == "clear":
            with self.lock:
                self.requests.clear()
        elif path == "close":
            threading.Thread(target=self.close, daemon=True).start()
        return b""


class Handler(socketserver.StreamRequestHandler):
    """One request a connection, answered with "Connection: close"."""

    def handle(self):
        raw = read_request(self.rfile)
        if raw is None:
            return
        target = raw.split(b" ", 2)[1].decode("latin-1")
        url = urllib.parse.urlsplit(target)
        if url.path.startswith(CONTROL) and not url.netloc:
            reply = self.server.control(url.path[len(CONTROL):],
                                        dict(urllib.parse.parse_qsl(url.query)),
                                        raw.partition(b"\r\n\r\n")[2])
            return self.send(200, [], reply)
        with self.server.lock:
            self.server.requests.append(raw)
            status, headers, body = self.server.status, self.server.headers, self.server.body
            reset = self.server.reset_after
        self.send(status, headers, body, reset)

    def send(self, status, headers, body, reset=None):
        head = "".join(f"{n}: {v}\r\n" for n, v in headers)
        self.wfile.write(f"HTTP/1.1 {status} Status\r\n{head}Content-Length: {len(body)}\r\n"
                         "Connection: close\r\n\r\n".encode("latin-1"))
        if reset is None:
            self.wfile.write(body)
            return
        self.wfile.write(body[:reset])
        self.wfile.flush()
        time.sleep(0.1)  # the client reads what came before the reset
        # A reset, not a clean end: the client sees the connection fail in the middle of the body.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()


Wire = Server


def stop_factory(state):
    """Ends the factory whose process the state folder names, if it still runs."""
    try:
        pid = int((state / "kvwire.pid").read_text())
        if b"kvwire.py" in pathlib.Path(f"/proc/{pid}/cmdline").read_bytes():
            os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        pass


def main(args):
    command, state = args[0], pathlib.Path(args[1])
    port_file = state / "kvwire.port"
    state.mkdir(parents=True, exist_ok=True)
    # Stopping, and starting after a run that never stopped its factory (which still holds its
    # servers' ports), both end the one that is there.
    stop_factory(state)
    port_file.unlink(missing_ok=True)
    if command == "stop":
        return 0
    if os.fork():
        # The factory lives on in the background, detached from the caller's streams; the caller
        # goes on once its port can be read.
        for _ in range(200):
            if port_file.exists():
                return 0
            time.sleep(0.05)
        return 1
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    factory = Server()
    (state / "kvwire.pid").write_text(str(os.getpid()))
    (state / "kvwire.port.tmp").write_text(str(factory.port))
    os.replace(state / "kvwire.port.tmp", port_file)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
