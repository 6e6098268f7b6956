"""Downloading a file into the cache the way the extension's own fetch does:
`curl`, failing that `wget`, into a temporary file beside the target, under
an advisory lock on the cache's `hp.json.lock` (the extension's lock file, so
the two exclude each other), renamed into place only once complete (and
checked).

The lock is a regular file opened without following a link; anything else
at its path is refused, a lock that cannot be had at all (no permission, no
flock) lets the download go ahead unlocked, and a lock another process keeps
is waited for at most LOCK_WAIT_LIMIT seconds.

The temporary file is created here, exclusively and under a random name, so
the download programs never write through a link someone else left in the
cache; the target is replaced by rename, which never follows a link either.

A download does not outlive the process: the program gets SIGKILL when the
thread that started it ends (Linux), SIGTERM and SIGHUP remove the temporary
file before they take effect, and the temporary files of processes that
ended without that chance (SIGKILL) are removed by the next download, which
finds their process id in their names. A program killed by SIGINT (Ctrl-C in
a terminal reaches the whole process group) ends the download: the other
program is not tried.
"""
from __future__ import annotations

import contextlib
import ctypes
import fcntl
import os
import re
import signal
import stat
import subprocess
import tempfile
import threading
import time
from collections.abc import Callable, Iterator
from pathlib import Path

__all__ = ["LOCK_NAME", "LOCK_WAIT_LIMIT", "DownloadError", "cache_lock", "download"]

# The signals that end a process unless it handles them, and that a download
# turns into cleanup first.
ENDING_SIGNALS = (signal.SIGTERM, signal.SIGHUP)
PR_SET_PDEATHSIG = 1
LOCK_NAME = "hp.json.lock"
# Seconds a download waits for the cache's lock while another process holds
# it (the extension waits as long), and between tries of it.
LOCK_WAIT_LIMIT = 600.0
LOCK_RETRY_INTERVAL = 0.05
_TEMPORARY = re.compile(r"\..+\.(\d+)\.[^.]+\.tmp")


class DownloadError(OSError):
    """Neither program could fetch the URL, or the result failed its check."""


@contextlib.contextmanager
def cache_lock(path: Path, wait_limit: float = LOCK_WAIT_LIMIT) -> Iterator[None]:
    """Holds an advisory lock on the regular file `path`, created if missing.
    DownloadError when something else stands there (a link is not followed)
    or when another holder keeps it past `wait_limit` seconds; where no lock
    can be had at all the body runs unlocked."""
    # Read-only is enough for flock, O_NONBLOCK keeps a planted FIFO from
    # holding the open up.
    flags = (os.O_RDONLY | os.O_CREAT | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_CLOEXEC
             | os.O_NOCTTY)
    try:
        fd = os.open(path, flags, 0o666)
    except OSError:
        if not is_regular_or_missing(path):
            raise lock_not_a_file(path) from None
        yield
        return
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise lock_not_a_file(path)
        held = locked(fd, path, wait_limit)
        try:
            yield
        finally:
            # Explicit: a process forked meanwhile shares the open file and
            # would keep the lock alive after our close.
            if held:
                fcntl.flock(fd, fcntl.LOCK_UN)
    finally:
        os.close(fd)


def locked(fd: int, path: Path, wait_limit: float) -> bool:
    """Takes the lock on `fd`, trying again while another holder has it;
    False when the file system offers no lock."""
    deadline = time.monotonic() + wait_limit
    while True:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return True
        except BlockingIOError:
            pass
        except OSError:
            return False
        left = deadline - time.monotonic()
        if left <= 0:
            raise DownloadError(f"another process holds the cache's lock {path} and did not "
                                "release it in time")
        time.sleep(min(left, LOCK_RETRY_INTERVAL))


def is_regular_or_missing(path: Path) -> bool:
    try:
        return stat.S_ISREG(path.lstat().st_mode)
    except OSError:
        return True


def lock_not_a_file(path: Path) -> DownloadError:
    return DownloadError(f"the cache's lock {path} is not a regular file")


class _Ended(BaseException):
    """SIGTERM or SIGHUP arrived during a download."""

    def __init__(self, signum: int) -> None:
        super().__init__(signum)
        self.signum = signum


@contextlib.contextmanager
def ending_signals_raise() -> Iterator[None]:
    """In the main thread, SIGTERM and SIGHUP raise _Ended in the body (so
    that its cleanup runs) and are then delivered again as they would have
    been without it. A signal ignored before stays ignored."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    received: list[int] = []

    def ended(signum: int, frame: object) -> None:
        received.append(signum)
        raise _Ended(signum)

    previous = {}
    for signum in ENDING_SIGNALS:
        if signal.getsignal(signum) != signal.SIG_IGN:
            previous[signum] = signal.signal(signum, ended)
    try:
        yield
    except _Ended:
        pass
    finally:
        for signum, handler in previous.items():
            signal.signal(signum, handler if handler is not None else signal.SIG_DFL)
    if received:
        signal.raise_signal(received[0])
        raise DownloadError(f"download interrupted by signal {received[0]}")


def _parent_death_signal() -> Callable[[], None] | None:
    """What the child runs before the program: ask for SIGKILL when the
    thread that started it ends, and end at once if that already happened.
    Prepared before the fork, so that the child only calls into libc."""
    try:
        prctl = ctypes.CDLL(None, use_errno=True).prctl
    except (OSError, AttributeError):  # not Linux
        return None
    parent = os.getpid()

    def in_child() -> None:
        if prctl(PR_SET_PDEATHSIG, signal.SIGKILL) != 0 or os.getppid() != parent:
            os._exit(127)

    return in_child


class _DiedOfSigint(Exception):
    """A download program was killed by SIGINT."""


def succeeds(argv: list[str]) -> bool:
    """Whether the program could be started and exited with 0; _DiedOfSigint
    when it died of SIGINT. An exception while it runs (an ending signal,
    Ctrl-C) kills it."""
    try:
        try:
            process = subprocess.run(argv, stdin=subprocess.DEVNULL,
                                     preexec_fn=_parent_death_signal())
        except RuntimeError:  # a subinterpreter, which may not run code in the child
            process = subprocess.run(argv, stdin=subprocess.DEVNULL)
    except OSError:
        return False
    if process.returncode == -signal.SIGINT:
        raise _DiedOfSigint
    return process.returncode == 0


def fetch_into(url: str, temporary: str) -> bool:
    """Runs curl, then wget, with the extension's arguments. DownloadError
    when a program died of SIGINT: the user asked the download to stop."""
    try:
        return (succeeds(["curl", "-L", "--fail", "--silent", "--show-error", "-o", temporary,
                          url])
                or succeeds(["wget", "--quiet", "-O", temporary, url]))
    except _DiedOfSigint:
        raise DownloadError(f"download of {url} interrupted") from None


def download(url: str, target: Path, check: Callable[[Path], None] | None = None,
             replace: bool = False, staging: Path | None = None,
             lock_wait_limit: float = LOCK_WAIT_LIMIT) -> bool:
    """Downloads `url` to `target` unless it is there already (or `replace`
    is set): under the lock `hp.json.lock` in `staging` (an existing
    directory on the same file system, by default `target`'s), into a
    temporary file there, then `check(temporary)` (which raises to reject the
    file), then a rename into `target`, creating the directories between
    `staging` and `target`. Returns whether it downloaded. On any failure,
    SIGTERM and SIGHUP included, nothing is left behind but the lock file and
    nothing changed."""
    staging = staging or target.parent
    with ending_signals_raise(), cache_lock(staging / LOCK_NAME, lock_wait_limit):
        if not replace and target.exists():
            return False
        missing = missing_directories(target.parent, staging)
        remove_stale_temporaries(staging)
        try:
            fd, temporary = tempfile.mkstemp(prefix=f".{target.name}.{os.getpid()}.",
                                             suffix=".tmp", dir=staging)
        except OSError as error:
            raise DownloadError(f"failed to create a temporary file in {staging}: "
                                f"{error.strerror or error}") from None
        os.close(fd)
        try:
            if not fetch_into(url, temporary):
                raise DownloadError(f"failed to download {url} - neither curl nor wget "
                                    "succeeded (is one installed and is there network access?)")
            if check is not None:
                check(Path(temporary))
            os.chmod(temporary, 0o644)
            for directory in missing:
                directory.mkdir()
            try:
                os.replace(temporary, target)
            except OSError:
                raise DownloadError(
                    f"failed to move downloaded file into place at {target}") from None
        except BaseException:
            with contextlib.suppress(OSError):
                os.unlink(temporary)
            for directory in reversed(missing):
                with contextlib.suppress(OSError):
                    directory.rmdir()
            raise
    return True


def missing_directories(directory: Path, staging: Path) -> list[Path]:
    """The directories from `staging` down to `directory` that do not exist
    yet, outermost first; DownloadError when one of them is a symbolic link."""
    if directory != staging and staging not in directory.parents:
        raise ValueError(f"{staging} does not hold {directory}")
    missing = []
    while directory != staging:
        if directory.is_symlink():
            raise DownloadError(f"{directory} is a symbolic link; not writing through it")
        if not directory.exists():
            missing.append(directory)
        directory = directory.parent
    return missing[::-1]


def remove_stale_temporaries(staging: Path) -> None:
    """Removes the temporary files in `staging` whose process has ended."""
    for path in staging.iterdir():
        match = _TEMPORARY.fullmatch(path.name)
        if match is not None and not process_runs(int(match.group(1))):
            with contextlib.suppress(OSError):
                path.unlink()


def process_runs(pid: int) -> bool:
    """Whether process `pid` exists and has not ended (a zombie has)."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as file:
            return file.read().rpartition(b")")[2].split()[0] != b"Z"
    except FileNotFoundError:
        return False
    except OSError:  # no /proc: ask the kernel
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return False
        except OSError:
            pass
        return True
