"""Which `Host` headers the service answers. A service bound to loopback
answers only the names of loopback: a web page whose own name an attacker
points at 127.0.0.1 (DNS rebinding) would otherwise read its answers, since
the browser sees one origin. Bound to another address, any name is answered:
the names it is reached by are the proxy's to check."""
from __future__ import annotations

import ipaddress
import json

from starlette.types import ASGIApp, Receive, Scope, Send

__all__ = ["HostCheck", "allowed_hosts", "is_loopback", "url_host"]

ANY = "*"
_LOOPBACK_NAMES = ("localhost", "127.0.0.1", "[::1]")


def is_loopback(host: str) -> bool:
    """Whether `host` reaches this machine only ("localhost" counts)."""
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def url_host(address: str) -> str:
    """An address as a Host header spells it (IPv6 in brackets)."""
    return f"[{address}]" if ":" in address else address


def allowed_hosts(bound: str, extra: tuple[str, ...] = ()) -> tuple[str, ...]:
    """The host names answered when bound to address `bound`, plus `extra`
    ("*": any); () means any."""
    if ANY in extra or not is_loopback(bound):
        return ()
    return tuple(dict.fromkeys((*_LOOPBACK_NAMES, url_host(bound), *extra)))


def _host_name(host_header: str) -> str:
    """The Host header without its port, lower-cased."""
    host = host_header.strip().lower()
    if host.startswith("["):
        return host.split("]", 1)[0] + "]"
    return host.rsplit(":", 1)[0] if host.count(":") == 1 else host


class HostCheck:
    """Refuses with 400 a request whose Host header names none of `hosts`."""

    def __init__(self, app: ASGIApp, hosts: tuple[str, ...]) -> None:
        self.app = app
        self.hosts = frozenset(host.lower() for host in hosts)

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] in ("http", "websocket"):
            headers = dict(scope["headers"])
            host = _host_name(headers.get(b"host", b"").decode("latin-1"))
            if host not in self.hosts:
                await _refuse(send, f"host {host or '(none)'} is not served here; "
                                    "corvanta serve --allow-host names more")
                return
        await self.app(scope, receive, send)


async def _refuse(send: Send, message: str) -> None:
    body = json.dumps({"error": message}).encode("utf-8")
    await send({"type": "http.response.start", "status": 400,
                "headers": [(b"content-type", b"application/json"),
                            (b"content-length", str(len(body)).encode("ascii"))]})
    await send({"type": "http.response.body", "body": body})
