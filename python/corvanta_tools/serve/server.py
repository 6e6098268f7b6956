"""Running the application under uvicorn: one process, or a supervisor and N
worker processes that each build their own matcher. SIGTERM and SIGINT stop
accepting connections, let the requests in flight finish, then end the
process with status 0."""
from __future__ import annotations

import ctypes
import os
import signal
import socket
import sys
from collections.abc import Iterator
from contextlib import contextmanager

import uvicorn
from uvicorn.supervisors import Multiprocess

from corvanta_tools.serve.app import create_app
from corvanta_tools.serve.hosts import is_loopback, url_host
from corvanta_tools.serve.protocol import TimedConfig
from corvanta_tools.serve.service import Service
from corvanta_tools.serve.settings import Settings

__all__ = ["is_loopback", "listening_socket", "serve"]

# Requests still running this long after a signal are cut off.
GRACEFUL_SHUTDOWN_SECONDS = 30
_STOP_SIGNALS = (signal.SIGINT, signal.SIGTERM)


class _Server(uvicorn.Server):
    """uvicorn's server, except that a stop signal, once handled, ends the
    process normally instead of being raised again at the end."""

    @contextmanager
    def capture_signals(self) -> Iterator[None]:
        previous = {sig: signal.signal(sig, self.handle_exit) for sig in _STOP_SIGNALS}
        try:
            yield
        finally:
            for sig, handler in previous.items():
                signal.signal(sig, handler)


# glibc's mallopt parameter for the number of malloc arenas.
_M_ARENA_MAX = -8


def _limit_malloc_arenas() -> None:
    """glibc gives each new thread its own malloc arena, up to eight per core;
    every pool thread that handles a request would then keep its own pages of
    freed memory, and the resident size would creep up with the threads used.
    One arena per core keeps it flat; worker processes take the same limit
    through the environment. Elsewhere than glibc this does nothing."""
    arenas = os.environ.setdefault("MALLOC_ARENA_MAX", str(os.cpu_count() or 1))
    try:
        mallopt = ctypes.CDLL(None).mallopt
    except (OSError, AttributeError):
        return
    if arenas.isdigit():
        mallopt(_M_ARENA_MAX, int(arenas))


def listening_socket(host: str, port: int) -> socket.socket:
    """A TCP socket bound to `host` and `port`; OSError when the address is
    taken or not this machine's."""
    family, kind, proto, _, address = socket.getaddrinfo(host, port, type=socket.SOCK_STREAM)[0]
    sock = socket.socket(family, kind, proto)
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind(address)
    except OSError:
        sock.close()
        raise
    sock.set_inheritable(True)
    return sock


def _warn_if_exposed(host: str) -> None:
    if not is_loopback(host):
        bar = "!" * 72
        print(f"{bar}\ncorvanta: WARNING: serving on {host}, reachable from other machines.\n"
              "The service has no authentication and no encryption: put it behind a proxy "
              f"that adds both,\nor bind 127.0.0.1 (the default).\n{bar}", file=sys.stderr)


def _warn_if_any_origin(origins: tuple[str, ...]) -> None:
    if "*" in origins:
        print("corvanta: WARNING: --cors-origin '*' lets any web page, in any browser that "
              "reaches this service, call the API and read its answers", file=sys.stderr)


def serve(settings: Settings, sock: socket.socket, workers: int,
          service: Service | None = None, access_log: bool = True) -> int:
    """Serves until stopped by a signal; returns the exit status. With one
    worker the application uses `service` (or builds one); with more, every
    worker process builds its own from the release path, and the supervisor
    stops them all gracefully on a signal. `sock` is the bound socket to
    listen on (see `listening_socket`)."""
    host, port = sock.getsockname()[:2]
    _warn_if_exposed(host)
    _warn_if_any_origin(settings.cors_origins)
    # uvicorn does not say where it listens when given a socket.
    print(f"corvanta: listening on http://{url_host(host)}:{port}", file=sys.stderr)
    _limit_malloc_arenas()
    common = {"host": host, "port": port, "timeout_graceful_shutdown": GRACEFUL_SHUTDOWN_SECONDS,
              "server_header": False, "proxy_headers": False, "access_log": access_log,
              "head_timeout": settings.head_timeout}
    if workers == 1:
        config = TimedConfig(create_app(settings, service), **common)
        server = _Server(config)
        server.run(sockets=[sock])
        return 0 if server.started else 1
    settings.to_environment()
    config = TimedConfig("corvanta_tools.serve.app:app_from_environment", factory=True,
                         workers=workers, **common)
    Multiprocess(config, sockets=[sock]).run()
    return 0
