"""A scripted device on loopback TCP: answers each request with a reply the test chose.

The emulator answers like real firmware; this one answers with exactly the bytes a test needs
(short replies, odd status bytes, invalid text) and records what the host sent.
"""

from __future__ import annotations

import socket
import threading
from typing import Callable, Union

Reply = Union[bytes, Callable[[bytes], bytes], None]


def frame(code: int, payload: bytes = b"") -> bytes:
    body = (code.to_bytes(2, "big") if code >= 256 else bytes([code])) + payload
    return b"\x02" + len(body).to_bytes(2, "big") + body + b"\r\n"


def split_frames(buf: bytearray) -> list[tuple[int, bytes]]:
    """Takes the complete frames off the front of buf (the host only sends well-formed ones)."""
    out = []
    while len(buf) >= 3 and len(buf) >= 5 + int.from_bytes(buf[1:3], "big"):
        body = bytes(buf[3 : 3 + int.from_bytes(buf[1:3], "big")])
        del buf[: 5 + len(body)]
        width = 1 if body[0] > 48 else 2
        out.append((int.from_bytes(body[:width], "big"), body[width:]))
    return out


class ScriptedDevice:
    """Listens on 127.0.0.1; `replies[code]` is the reply payload (bytes), a function of the
    request payload, or None for no reply. Unknown codes get no reply. A second listener
    (`data_port`) stands in for the Wi-Fi data channel and only accepts."""

    def __init__(self, replies: dict[int, Reply] | None = None) -> None:
        self.replies: dict[int, Reply] = dict(replies or {})
        self.requests: list[tuple[int, bytes]] = []
        self._conns: list[socket.socket] = []
        self._stop = threading.Event()
        self._listeners = [socket.create_server(("127.0.0.1", 0)) for _ in range(2)]
        self.host = "127.0.0.1"
        self.port, self.data_port = (s.getsockname()[1] for s in self._listeners)
        self._threads = [threading.Thread(target=self._accept, args=(s, i == 0), daemon=True)
                         for i, s in enumerate(self._listeners)]
        for t in self._threads:
            t.start()

    def _accept(self, listener: socket.socket, serve: bool) -> None:
        listener.settimeout(0.05)
        while not self._stop.is_set():
            try:
                conn, _ = listener.accept()
            except OSError:
                continue
            self._conns.append(conn)
            if serve:
                threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn: socket.socket) -> None:
        buf = bytearray()
        while True:
            try:
                chunk = conn.recv(4096)
            except OSError:
                return
            if not chunk:
                return
            buf += chunk
            for code, payload in split_frames(buf):
                self.requests.append((code, payload))
                reply = self.replies.get(code)
                if callable(reply):
                    reply = reply(payload)
                if reply is not None:
                    conn.sendall(frame(code, reply))

    def close(self) -> None:
        self._stop.set()
        for t in self._threads:
            t.join()
        for s in self._listeners + self._conns:
            s.close()
