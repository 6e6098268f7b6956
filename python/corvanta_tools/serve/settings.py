"""What a service process needs to know before it starts: the release to
build from, the request limits and the origins allowed to call it from a
browser. Worker processes receive it through an environment variable."""
from __future__ import annotations

import json
import os
from dataclasses import asdict, dataclass

__all__ = ["DEFAULT_MAX_BODY_BYTES", "DEFAULT_MAX_DOCUMENTS", "DEFAULT_MAX_HITS",
           "DEFAULT_HEAD_TIMEOUT", "DEFAULT_BODY_TIMEOUT", "ENVIRONMENT_VARIABLE", "Settings"]

DEFAULT_MAX_BODY_BYTES = 10 * 1024 * 1024
DEFAULT_MAX_DOCUMENTS = 1000
# About 100 MB to write an answer this large (see the README's service section).
DEFAULT_MAX_HITS = 100_000
# The times a request's head may take to arrive after its first byte, and
# its body after its head.
DEFAULT_HEAD_TIMEOUT = 10.0
DEFAULT_BODY_TIMEOUT = 30.0
ENVIRONMENT_VARIABLE = "CORVANTA_SERVE_SETTINGS"


@dataclass(frozen=True)
class Settings:
    """How one service is set up; the same for every worker process."""

    release_path: str  # a file Corvanta(...) accepts
    max_body_bytes: int = DEFAULT_MAX_BODY_BYTES
    max_documents: int = DEFAULT_MAX_DOCUMENTS
    max_hits: int = DEFAULT_MAX_HITS  # in one answer
    head_timeout: float = DEFAULT_HEAD_TIMEOUT  # seconds
    body_timeout: float = DEFAULT_BODY_TIMEOUT
    cors_origins: tuple[str, ...] = ()  # none: no cross-origin access
    allowed_hosts: tuple[str, ...] = ()  # Host header names answered; none: any
    profile: str = "exact"  # of requests that name none

    def to_environment(self) -> None:
        """Hands these settings to worker processes started from here on."""
        os.environ[ENVIRONMENT_VARIABLE] = json.dumps(asdict(self))

    @classmethod
    def from_environment(cls) -> Settings:
        """The settings a parent process handed down with `to_environment`."""
        fields = json.loads(os.environ[ENVIRONMENT_VARIABLE])
        for name in ("cors_origins", "allowed_hosts"):
            fields[name] = tuple(fields[name])
        return cls(**fields)
