"""`corvanta serve` as a child process on a free loopback port: started,
waited for until healthy, and stopped by a signal. For tests, benchmarks and
anyone who wants a real service for a while."""
from __future__ import annotations

import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
from collections.abc import Sequence
from types import TracebackType

__all__ = ["ServerProcess", "free_port"]

LOOPBACK = "127.0.0.1"


def free_port() -> int:
    """A TCP port on the loopback interface that nothing listens on right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind((LOOPBACK, 0))
        port: int = probe.getsockname()[1]
        return port


class ServerProcess:
    """A running `corvanta serve --hpo PATH` on 127.0.0.1; a context manager
    that stops it with SIGTERM on exit.

        with ServerProcess(path) as server:
            urllib.request.urlopen(server.url + "/v1/health")
    """

    def __init__(self, release_path: str, options: Sequence[str] = (),
                 startup_seconds: float = 60.0) -> None:
        self.port = free_port()
        self.url = f"http://{LOOPBACK}:{self.port}"
        command = [sys.executable, "-m", "corvanta_tools", "serve", "--hpo", release_path,
                   "--host", LOOPBACK, "--port", str(self.port), *options]
        # A file, not a pipe: nobody reads the log while the server runs.
        self._log = tempfile.TemporaryFile("w+", encoding="utf-8")
        self.process = subprocess.Popen(command, stdout=self._log, stderr=subprocess.STDOUT)
        self.output = ""
        self.health = self._wait_until_healthy(startup_seconds)

    @property
    def pid(self) -> int:
        return self.process.pid

    def _wait_until_healthy(self, seconds: float) -> dict[str, str]:
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"corvanta serve exited with {self.process.returncode}:\n"
                                   f"{self.read_log()}")
            try:
                with urllib.request.urlopen(self.url + "/v1/health", timeout=5) as response:
                    health: dict[str, str] = json.load(response)
                    return health
            except (urllib.error.URLError, ConnectionError):
                time.sleep(0.05)
        self.stop(signal.SIGKILL)
        raise RuntimeError(f"corvanta serve did not answer within {seconds} s:\n{self.output}")

    def read_log(self) -> str:
        """What the server has printed so far. The server writes through the
        same file offset: reading moves none."""
        fd = self._log.fileno()
        return os.pread(fd, os.fstat(fd).st_size, 0).decode("utf-8", errors="replace")

    def stop(self, sig: int = signal.SIGTERM, timeout: float = 60.0) -> int:
        """Sends `sig`, waits for the process to end; its exit status
        (negative: killed by a signal). What it printed is in `output`."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.output = self.read_log()
        return self.process.returncode

    def __enter__(self) -> ServerProcess:
        return self

    def __exit__(self, kind: type[BaseException] | None, value: BaseException | None,
                 traceback: TracebackType | None) -> None:
        self.stop()
