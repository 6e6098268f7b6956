"""Fetching the latest release into a cache directory, one table of scenarios
run against both implementations: the extension's `Corvanta.fetch_latest`
and the toolkit's download path (`fetch_latest_release`, the one under
`--release latest`, pinned releases and `release refresh`). No network is used.

The download programs are fakes (fake_downloads.py), alone on PATH.
"""
import fcntl
import json
import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import corvanta
from conftest import ends_within
from fake_downloads import FakeDownloads
from corvanta_tools.downloads import DownloadError
from corvanta_tools.releases import Release, fetch_latest_release

URL = "https://purl.obolibrary.org/obo/hp.json"
FETCH_FAILED = "failed to fetch/cache the HPO release: "
DOWNLOAD_FAILED = (f"failed to download {URL} - neither curl nor wget succeeded "
                   "(is one installed and is there network access?)")
INTERRUPTED = f"download of {URL} interrupted"
LOCK_NOT_A_FILE = "the cache's lock {lock} is not a regular file"
MOVE_FAILED = "failed to move downloaded file into place at {target}"
CREATE_FAILED = "failed to create cache directory {cache}"


def release_text(version):
    return json.dumps({"graphs": [{
        "id": "g",
        "meta": {"basicPropertyValues": [
            {"pred": "http://www.w3.org/2002/07/owl#versionInfo", "val": version}]},
        "nodes": [{"id": "http://purl.obolibrary.org/obo/HP_0000118",
                   "lbl": "Phenotypic abnormality"},
                  {"id": "http://purl.obolibrary.org/obo/HP_0001250", "lbl": "Seizure"}],
        "edges": [{"sub": "http://purl.obolibrary.org/obo/HP_0001250", "pred": "is_a",
                   "obj": "http://purl.obolibrary.org/obo/HP_0000118"}]}]})


RELEASE = release_text("2025-01-01")
class Extension:
    """`Corvanta.fetch_latest`: the fixed temporary file `hp.json.tmp`."""

    child = ("import sys, corvanta\n"
             "try:\n"
             "    print(corvanta.Corvanta.fetch_latest(sys.argv[1]).version())\n"
             "except BaseException as e:\n"
             "    print(type(e).__name__, e)\n")
    # A failed rename leaves the downloaded file where it is.
    keeps_temporary_after_failed_rename = True

    @staticmethod
    def fetch(cache_dir):
        """The version of the release in the cache; the message on failure."""
        try:
            return corvanta.Corvanta.fetch_latest(cache_dir).version()
        except OSError as error:
            assert (error.errno, error.strerror, error.__cause__) == (None, None, None)
            return str(error)

    @staticmethod
    def temporary_is_its_own(path, cache):
        return path == cache / "hp.json.tmp"


class Toolkit:
    """`fetch_latest_release`: a fresh temporary file of this process."""

    child = ("import sys, pathlib\n"
             "from corvanta_tools.releases import Release, fetch_latest_release\n"
             "try:\n"
             "    print(Release(fetch_latest_release(pathlib.Path(sys.argv[1]))).version)\n"
             "except BaseException as e:\n"
             "    print(type(e).__name__, e)\n")
    keeps_temporary_after_failed_rename = False

    @staticmethod
    def fetch(cache_dir):
        try:
            return Release(fetch_latest_release(Path(cache_dir))).version
        except DownloadError as error:
            return FETCH_FAILED + str(error)

    @staticmethod
    def temporary_is_its_own(path, cache):
        return path.parent == cache and path.name.startswith(f".hp.json.{os.getpid()}.")


@pytest.fixture(params=[Extension, Toolkit], ids=["extension", "toolkit"])
def fetcher(request):
    return request.param


class Fakes(FakeDownloads):
    def __init__(self, root):
        super().__init__(root)
        (root / "release.json").write_text(RELEASE, encoding="utf-8")
        self.writes_release = f"cat '{root / 'release.json'}' > \"$out\""

    def wait_for(self, name, timeout=10):
        deadline = time.monotonic() + timeout
        while not (self.root / name).exists():
            assert time.monotonic() < deadline, f"{name} never appeared"
            time.sleep(0.01)

    def run_children(self, fetcher, cache, count):
        """Starts `count` interpreters that each fetch into `cache`."""
        env = dict(os.environ, PATH=str(self.bin))
        return [subprocess.Popen([sys.executable, "-c", fetcher.child, str(cache)], env=env,
                                 stdout=subprocess.PIPE, text=True, start_new_session=True)
                for _ in range(count)]


@pytest.fixture
def fakes(tmp_path, monkeypatch):
    fakes = Fakes(tmp_path)
    monkeypatch.setenv("PATH", str(fakes.bin))
    return fakes


def fails_with(code):
    return f'printf partial > "$out"; exit {code}'


def cache_files(cache):
    """What a fetch leaves in the cache besides its lock, which stays once made."""
    return sorted(p.name for p in cache.iterdir() if p.name != "hp.json.lock") \
        if cache.is_dir() else []


def holding_the_lock_a_moment(cache, writes_release=False):
    """Another holder of the cache's lock, which lets go after 0.3 s, having
    put a release in place first if `writes_release`."""
    cache.mkdir(parents=True)
    holder = os.open(cache / "hp.json.lock", os.O_RDONLY | os.O_CREAT, 0o600)
    fcntl.flock(holder, fcntl.LOCK_EX)

    def let_go():
        if writes_release:
            (cache / "hp.json").write_text(release_text("2024-06-30"), encoding="utf-8")
        os.close(holder)

    threading.Timer(0.3, let_go).start()


def plant(cache, name, kind, elsewhere):
    """Something other than a fresh file at `cache/name`."""
    cache.mkdir(parents=True, exist_ok=True)
    path = cache / name
    if kind == "directory":
        path.mkdir()
        return
    if kind != "dangling link":
        elsewhere.write_text(release_text("2024-06-30"), encoding="utf-8")
    (os.link if kind == "hard link" else os.symlink)(elsewhere, path)


# id, curl, wget, what stands in the cache first, and the outcome: the
# version fetched or the message (its parts in braces filled in), then
# whether curl and wget ran.
SCENARIOS = [
    ("curl", "release", "release", None, "2025-01-01", True, False),
    ("curl missing", None, "release", None, "2025-01-01", False, True),
    ("curl fails, wget follows", "fail", "release", None, "2025-01-01", True, True),
    ("both fail", "fail", "fail", None, DOWNLOAD_FAILED, True, True),
    ("neither installed", None, None, None, DOWNLOAD_FAILED, False, False),
    ("curl killed by SIGINT: wget not tried", "sigint", "release", None, INTERRUPTED, True,
     False),
    ("rename fails", "blocks the rename", None, None, MOVE_FAILED, True, False),
    ("hp.json present (a link) is used as it stands", "release", "release",
     ("hp.json", "link"), "2024-06-30", False, False),
    ("hp.json a dangling link: a miss", "release", None, ("hp.json", "dangling link"),
     "2025-01-01", True, False),
    ("hp.json.tmp a link: not written through", "release", None, ("hp.json.tmp", "link"),
     "2025-01-01", True, False),
    ("hp.json.tmp a dangling link: not written through", "release", None,
     ("hp.json.tmp", "dangling link"), "2025-01-01", True, False),
    ("hp.json.tmp a hard link: not written through", "release", None,
     ("hp.json.tmp", "hard link"), "2025-01-01", True, False),
    ("lock a link", "release", None, ("hp.json.lock", "link"), LOCK_NOT_A_FILE, False, False),
    ("lock a dangling link", "release", None, ("hp.json.lock", "dangling link"),
     LOCK_NOT_A_FILE, False, False),
    ("lock a directory", "release", None, ("hp.json.lock", "directory"), LOCK_NOT_A_FILE, False,
     False),
    ("lock held a moment", "release", None, "held", "2025-01-01", True, False),
    ("lock held while another fetch finishes", "release", None, "held by a fetch",
     "2024-06-30", False, False),
]


@pytest.mark.parametrize("curl, wget, planted, outcome, curl_ran, wget_ran",
                         [row[1:] for row in SCENARIOS], ids=[row[0] for row in SCENARIOS])
def test_fetch(fetcher, fakes, curl, wget, planted, outcome, curl_ran, wget_ran):
    behaviours = {
        "release": fakes.writes_release,
        "fail": fails_with(22),
        "sigint": 'printf partial > "$out"; kill -INT $$; sleep 5; exit 1',
        # A non-empty directory appearing at hp.json cannot be replaced.
        "blocks the rename": 'printf partial > "$out"; mkdir "$d/hp.json"; : > "$d/hp.json/x"',
    }
    for name, behaviour in (("curl", curl), ("wget", wget)):
        if behaviour:
            fakes.install(name, behaviours[behaviour])
    cache = fakes.root / "no" / "such" / "cache"
    elsewhere = fakes.root / "elsewhere"
    if planted in ("held", "held by a fetch"):
        holding_the_lock_a_moment(cache, writes_release=planted == "held by a fetch")
    elif planted:
        plant(cache, *planted, elsewhere)
    before = elsewhere.read_text() if elsewhere.is_file() else None

    result = fetcher.fetch(str(cache))

    target = cache / "hp.json"
    expected = outcome.format(lock=cache / "hp.json.lock", target=target)
    if outcome[0].isdigit():
        assert result == expected
        assert target.resolve().read_text(encoding="utf-8") == (
            RELEASE if curl_ran or wget_ran else release_text("2024-06-30"))
    else:
        assert result == FETCH_FAILED + expected
        assert not target.is_file()
    calls = {name: fakes.calls(name) for name in ("curl", "wget")}
    assert (len(calls["curl"]), len(calls["wget"])) == (curl_ran, wget_ran)
    assert [argv[:5] + argv[6:] for argv in calls["curl"]] == [
        ["-L", "--fail", "--silent", "--show-error", "-o", URL]] * curl_ran
    assert [argv[:2] + argv[3:] for argv in calls["wget"]] == [["--quiet", "-O", URL]] * wget_ran
    # One temporary file of its own, that both programs write.
    temporaries = {Path(argv[-2]) for argv in calls["curl"] + calls["wget"]}
    assert all(fetcher.temporary_is_its_own(path, cache) for path in temporaries)
    assert len(temporaries) <= 1
    if before is not None:
        assert elsewhere.read_text() == before
    left = cache_files(cache)
    if outcome == MOVE_FAILED:
        assert left == (["hp.json", "hp.json.tmp"] if fetcher.keeps_temporary_after_failed_rename
                        else ["hp.json"])
    elif not outcome[0].isdigit():
        assert left == []
    else:
        assert not temporaries & {cache / name for name in left}


@pytest.mark.parametrize("kind", ["regular file", "below a regular file", "NUL"])
def test_cache_dir_that_cannot_be_a_directory(fetcher, fakes, kind):
    fakes.install("curl", fakes.writes_release)
    (fakes.root / "file").write_text("")
    cache_dir = {
        "regular file": str(fakes.root / "file"),
        "below a regular file": str(fakes.root / "file" / "sub"),
        "NUL": str(fakes.root) + "\0cache",
    }[kind]

    message = fetcher.fetch(cache_dir)

    # The toolkit adds the system's reason after a colon.
    expected = FETCH_FAILED + CREATE_FAILED.format(cache=cache_dir)
    assert message == expected or (fetcher is Toolkit and message.startswith(expected + ": "))
    assert fakes.calls("curl") == []


def test_cache_dir_reaches_the_program_as_one_literal_argument(fetcher, fakes):
    fakes.install("curl", fakes.writes_release)
    marker = fakes.root / "pwned"
    cache = fakes.root / f"a b 'c' \"d\" $(touch {marker}) `touch {marker}`; touch {marker} #"

    assert fetcher.fetch(str(cache)) == "2025-01-01"
    assert fetcher.temporary_is_its_own(Path(fakes.calls("curl")[0][5]), cache)
    assert not marker.exists()


def test_download_programs_inherit_the_standard_streams(fetcher, fakes, capfd):
    fakes.install("curl", f"echo to-stdout; echo to-stderr >&2; {fakes.writes_release}")
    assert fetcher.fetch(str(fakes.root / "cache")) == "2025-01-01"
    captured = capfd.readouterr()
    assert "to-stdout" in captured.out
    assert "to-stderr" in captured.err


def test_other_threads_run_during_the_download(fetcher, fakes):
    # The fake waits for a file that only another Python thread creates, so
    # the download can only succeed if the interpreter lock is released.
    started, go = fakes.root / "started", fakes.root / "go"
    fakes.install(
        "curl",
        f": > '{started}'; n=0; while [ ! -e '{go}' ] && [ $n -lt 200 ]; do sleep 0.05; "
        f"n=$((n + 1)); done; [ -e '{go}' ] && {fakes.writes_release}",
    )

    def release_the_download():
        fakes.wait_for("started")
        go.touch()

    helper = threading.Thread(target=release_the_download)
    helper.start()
    try:
        assert fetcher.fetch(str(fakes.root / "cache")) == "2025-01-01"
    finally:
        helper.join()


def test_processes_that_miss_one_cache_together_download_it_once(fetcher, fakes):
    # Written in pieces, so a second writer or an early rename would show.
    quarter = -(-len(RELEASE) // 4)
    for i in range(4):
        (fakes.root / f"piece{i}").write_text(RELEASE[i * quarter : (i + 1) * quarter])
    fakes.install(
        "curl",
        f': > "$out"; for i in 0 1 2 3; do sleep 0.1; cat "{fakes.root}/piece$i" >> "$out"; done',
    )
    fakes.install("wget", fails_with(4))
    cache = fakes.root / "shared" / "cache"

    outputs = [child.communicate(timeout=60)[0]
               for child in fakes.run_children(fetcher, cache, 3)]

    assert outputs == ["2025-01-01\n"] * 3
    assert len(fakes.calls("curl")) == 1
    assert fakes.calls("wget") == []
    assert (cache / "hp.json").read_text(encoding="utf-8") == RELEASE
    assert cache_files(cache) == ["hp.json"]


@pytest.mark.parametrize("to_group", [True, False],
                         ids=["Ctrl-C in a terminal", "SIGINT to the interpreter alone"])
def test_sigint_stops_the_fetch_and_leaves_no_file(fetcher, fakes, to_group):
    fakes.install("curl", f'printf partial > "$out"; : > \'{fakes.root / "started"}\'; '
                          "exec sleep 30")
    fakes.install("wget", fakes.writes_release)
    cache = fakes.root / "cache"

    (child,) = fakes.run_children(fetcher, cache, 1)
    try:
        fakes.wait_for("started")
        # A terminal sends SIGINT to the whole foreground group, download
        # program included; kill(1) to one process reaches only that one.
        if to_group:
            os.killpg(child.pid, signal.SIGINT)
        else:
            child.send_signal(signal.SIGINT)
        output = child.communicate(timeout=20)[0]
    finally:
        child.kill()

    assert output.startswith("KeyboardInterrupt")
    assert fakes.calls("wget") == []
    assert cache_files(cache) == []


@pytest.mark.skipif(not Path("/proc/self/stat").exists(), reason="needs /proc (Linux)")
def test_a_download_whose_fetching_process_is_killed_dies(fetcher, fakes):
    pid_file = fakes.root / "orphan.pid"
    # Keeps the file open and writes on, as a download program does.
    fakes.install("curl", f'exec 3> "$out"; echo $$ > \'{pid_file}\'; '
                          "while :; do printf x >&3; sleep 0.02; done")
    cache = fakes.root / "cache"
    (child,) = fakes.run_children(fetcher, cache, 1)
    try:
        fakes.wait_for("orphan.pid")
        while not pid_file.read_text().strip():
            time.sleep(0.01)
    finally:
        child.kill()
        child.wait(10)
    orphan = int(pid_file.read_text())
    ended = ends_within(orphan)
    if not ended:
        os.kill(orphan, signal.SIGKILL)
    assert ended
    fakes.install("curl", fakes.writes_release)
    assert fetcher.fetch(str(cache)) == "2025-01-01"


def test_the_toolkit_waits_for_the_lock_only_up_to_its_limit(fakes):
    # The extension's limit is fixed at ten minutes: its own unit test states it.
    fakes.install("curl", fakes.writes_release)
    cache = fakes.root / "cache"
    cache.mkdir()
    holder = os.open(cache / "hp.json.lock", os.O_RDONLY | os.O_CREAT, 0o600)
    fcntl.flock(holder, fcntl.LOCK_EX)
    try:
        with pytest.raises(DownloadError) as info:
            fetch_latest_release(cache, lock_wait_limit=0.2)
    finally:
        os.close(holder)
    assert str(info.value) == (f"another process holds the cache's lock {cache / 'hp.json.lock'} "
                               "and did not release it in time")
    assert fakes.calls("curl") == [] and cache_files(cache) == []


# What follows is the extension's own surface.


def test_fetch_latest_on_an_instance(fakes, small):
    fakes.install("curl", fakes.writes_release)
    fetched = small.fetch_latest(cache_dir=str(fakes.root / "cache"))
    assert type(fetched) is corvanta.Corvanta
    assert fetched is not small
    assert fetched.version() == "2025-01-01"
    assert [h.term_id for h in fetched.map_text("seizure")] == ["HP:0001250"]


def test_a_path_object_is_refused_before_anything_happens(fakes):
    fakes.install("curl", fakes.writes_release)
    with pytest.raises(TypeError):
        corvanta.Corvanta.fetch_latest(fakes.root / "cache")
    assert not (fakes.root / "cache").exists()


SUBINTERPRETER_CHILD = """
import os, signal, sys, threading, time, _testcapi
cache, started = sys.argv[1], sys.argv[2]
code = f'''
import corvanta
try:
    print("sub:", corvanta.Corvanta.fetch_latest({cache!r}).version(), flush=True)
except BaseException as e:
    print("sub:", type(e).__name__, flush=True)
'''

def interrupt():
    while not os.path.exists(started):
        time.sleep(0.01)
    os.kill(os.getpid(), signal.SIGINT)

threading.Thread(target=interrupt).start()
try:
    _testcapi.run_in_subinterp(code)
    time.sleep(5)
    print("main: no signal", flush=True)
except BaseException as e:
    print("main:", type(e).__name__, flush=True)
"""


def test_sigint_during_a_fetch_in_a_subinterpreter_reaches_the_main_interpreter(fakes):
    # Only the main interpreter runs signal handlers: the subinterpreter's
    # fetch goes on, and the main interpreter raises once it runs again.
    if subprocess.run([sys.executable, "-c", "import _testcapi"]).returncode != 0:
        pytest.skip("this interpreter has no _testcapi to start a subinterpreter with")
    started = fakes.root / "started"
    fakes.install("curl", f": > '{started}'; sleep 1; {fakes.writes_release}")
    env = dict(os.environ, PATH=str(fakes.bin))
    out = subprocess.run([sys.executable, "-c", SUBINTERPRETER_CHILD, str(fakes.root / "cache"),
                          str(started)], env=env, capture_output=True, text=True, timeout=60)
    assert (out.returncode, out.stdout) == (0, "sub: 2025-01-01\nmain: KeyboardInterrupt\n"), \
        out.stderr
