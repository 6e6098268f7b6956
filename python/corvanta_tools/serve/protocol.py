"""uvicorn's HTTP protocol with two limits against slow clients. A request's
head must arrive within a time limit of its first byte (of the connection,
for the first request), else the connection is answered 408 and closed; the
body's own limit is the application's (see app.py). At a stop signal, an
upload still arriving gets a few seconds more, then its connection is
closed, so that stopping never waits for a client that trickles bytes."""
from __future__ import annotations

import asyncio
from typing import TYPE_CHECKING, Any

import uvicorn

if TYPE_CHECKING:  # either of the two, as uvicorn picks ("auto")
    from uvicorn.protocols.http.h11_impl import H11Protocol as _Protocol
else:
    from uvicorn.protocols.http.auto import AutoHTTPProtocol as _Protocol

__all__ = ["UPLOAD_GRACE_SECONDS", "TimedConfig", "TimedProtocol"]

UPLOAD_GRACE_SECONDS = 3.0
_LATE_BODY = b'{"error": "the request head took too long"}'
_LATE_HEAD = (b"HTTP/1.1 408 Request Timeout\r\ncontent-type: application/json\r\n"
              b"connection: close\r\ncontent-length: %d\r\n\r\n%s" % (len(_LATE_BODY), _LATE_BODY))


class TimedConfig(uvicorn.Config):
    """uvicorn's settings, the protocol below, and how long a head may take."""

    def __init__(self, app: Any, *, head_timeout: float, **options: Any) -> None:
        super().__init__(app, http=TimedProtocol, **options)
        self.head_timeout = head_timeout


class TimedProtocol(_Protocol):
    def __init__(self, config: TimedConfig, *args: Any, **kwargs: Any) -> None:
        super().__init__(config, *args, **kwargs)
        self._head_timeout = config.head_timeout
        self._head_timer: asyncio.TimerHandle | None = None
        self._cycle_before_head: object = None

    def connection_made(self, transport: asyncio.BaseTransport) -> None:
        super().connection_made(transport)  # type: ignore[arg-type]
        self._await_head()

    def data_received(self, data: bytes) -> None:
        if self._head_timer is None and (self.cycle is None or self.cycle.response_complete):
            self._await_head()  # the first bytes of the next request on this connection
        super().data_received(data)
        if self._head_timer is not None and self.cycle is not self._cycle_before_head:
            self._stop_waiting()

    def connection_lost(self, exc: Exception | None) -> None:
        self._stop_waiting()
        super().connection_lost(exc)

    def shutdown(self) -> None:
        super().shutdown()
        cycle = self.cycle
        if cycle is not None and cycle.more_body and not cycle.response_started:
            self.loop.call_later(UPLOAD_GRACE_SECONDS, self._end_upload, cycle)

    def _await_head(self) -> None:
        self._cycle_before_head = self.cycle
        self._head_timer = self.loop.call_later(self._head_timeout, self._head_late)

    def _stop_waiting(self) -> None:
        if self._head_timer is not None:
            self._head_timer.cancel()
            self._head_timer = None

    def _head_late(self) -> None:
        self._head_timer = None
        if self.transport.is_closing():
            return
        if self.cycle is None or not self.cycle.more_body:  # nothing else is being answered
            self.transport.write(_LATE_HEAD)
        self.transport.close()

    def _end_upload(self, cycle: object) -> None:
        if cycle is self.cycle and self.cycle.more_body and not self.cycle.response_started:
            self.transport.close()  # the application sees the client gone
