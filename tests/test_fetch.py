"""Corvanta.fetch_latest against fake curl and wget scripts: no network is used.

Each fake is a shell script first (and alone) on PATH. It logs its arguments,
one per line after their count, then runs a behaviour given as shell code in
which "$out" is the argument after -o or -O.
"""
import json
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import corvanta

URL = "https://purl.obolibrary.org/obo/hp.json"
FETCH_FAILED = "failed to fetch/cache the HPO release: "
DOWNLOAD_FAILED = (
    FETCH_FAILED + f"failed to download {URL} - neither curl nor wget succeeded "
    "(is one installed and is there network access?)"
)
RELEASE = json.dumps(
    {
        "graphs": [
            {
                "id": "g",
                "meta": {
                    "basicPropertyValues": [
                        {"pred": "http://www.w3.org/2002/07/owl#versionInfo", "val": "2025-01-01"}
                    ]
                },
                "nodes": [
                    {"id": "http://purl.obolibrary.org/obo/HP_0000118", "lbl": "Phenotypic abnormality"},
                    {"id": "http://purl.obolibrary.org/obo/HP_0001250", "lbl": "Seizure"},
                ],
                "edges": [
                    {
                        "sub": "http://purl.obolibrary.org/obo/HP_0001250",
                        "pred": "is_a",
                        "obj": "http://purl.obolibrary.org/obo/HP_0000118",
                    }
                ],
            }
        ]
    }
)
SCRIPT = """#!/bin/sh
PATH=/usr/bin:/bin
log='{log}'
printf '%s\\n' "$#" >> "$log"
for a in "$@"; do printf '%s\\n' "$a" >> "$log"; done
out=; prev=
for a in "$@"; do case $prev in -o|-O) out=$a;; esac; prev=$a; done
{behaviour}
"""
CHILD = """
import sys, corvanta
try:
    print(corvanta.Corvanta.fetch_latest(sys.argv[1]).version())
except BaseException as e:
    print(type(e).__name__, e)
"""


def curl_argv(tmp):
    return ["-L", "--fail", "--silent", "--show-error", "-o", str(tmp), URL]


def wget_argv(tmp):
    return ["--quiet", "-O", str(tmp), URL]


def fails_with(code):
    return f'printf partial > "$out"; exit {code}'


class Fakes:
    def __init__(self, root):
        self.root = root
        self.bin = root / "bin"
        self.bin.mkdir()
        (root / "release.json").write_text(RELEASE, encoding="utf-8")
        self.writes_release = f"cat '{root / 'release.json'}' > \"$out\""

    def install(self, name, behaviour):
        script = self.bin / name
        script.write_text(SCRIPT.format(log=self.root / f"{name}.log", behaviour=behaviour))
        script.chmod(0o755)

    def calls(self, name):
        log = self.root / f"{name}.log"
        lines = log.read_text().splitlines() if log.exists() else []
        result = []
        while lines:
            count = int(lines.pop(0))
            result.append(lines[:count])
            del lines[:count]
        return result

    def wait_for(self, name, timeout=10):
        deadline = time.monotonic() + timeout
        while not (self.root / name).exists():
            assert time.monotonic() < deadline, f"{name} never appeared"
            time.sleep(0.01)


@pytest.fixture
def fakes(tmp_path, monkeypatch):
    fakes = Fakes(tmp_path)
    monkeypatch.setenv("PATH", str(fakes.bin))
    return fakes


def run_children(fakes, cache, count):
    """Starts `count` interpreters that each fetch into `cache`."""
    env = dict(os.environ, PATH=str(fakes.bin))
    return [
        subprocess.Popen(
            [sys.executable, "-c", CHILD, str(cache)],
            env=env,
            stdout=subprocess.PIPE,
            text=True,
            start_new_session=True,
        )
        for _ in range(count)
    ]


@pytest.mark.parametrize(
    "curl, wget, curl_called, wget_called",
    [
        ("release", "fail", True, False),
        (None, "release", False, True),
        ("fail", "release", True, True),
    ],
    ids=["curl", "curl missing", "curl fails"],
)
def test_downloads_and_builds(fakes, curl, wget, curl_called, wget_called):
    behaviours = {"release": fakes.writes_release, "fail": fails_with(22)}
    for name, behaviour in (("curl", curl), ("wget", wget)):
        if behaviour:
            fakes.install(name, behaviours[behaviour])
    cache = fakes.root / "no" / "such" / "cache"
    tmp = cache / "hp.json.tmp"

    fetched = corvanta.Corvanta.fetch_latest(str(cache))

    assert type(fetched) is corvanta.Corvanta
    assert fetched.version() == "2025-01-01"
    assert [h.term_id for h in fetched.map_text("seizure")] == ["HP:0001250"]
    assert (cache / "hp.json").read_text(encoding="utf-8") == RELEASE
    assert not tmp.exists()
    assert fakes.calls("curl") == ([curl_argv(tmp)] if curl_called else [])
    assert fakes.calls("wget") == ([wget_argv(tmp)] if wget_called else [])


def test_fetch_latest_on_an_instance(fakes, small):
    fakes.install("curl", fakes.writes_release)
    fetched = small.fetch_latest(cache_dir=str(fakes.root / "cache"))
    assert type(fetched) is corvanta.Corvanta
    assert fetched is not small
    assert fetched.version() == "2025-01-01"


@pytest.mark.parametrize(
    "curl, wget, cause, keeps_tmp",
    [
        (fails_with(22), fails_with(8), DOWNLOAD_FAILED[len(FETCH_FAILED):], False),
        (None, None, DOWNLOAD_FAILED[len(FETCH_FAILED):], False),
        (
            # A non-empty directory appearing at hp.json cannot be replaced.
            ': > "$out"; mkdir "${out%.tmp}"; : > "${out%.tmp}/x"',
            None,
            "failed to move downloaded file into place at {target}",
            True,
        ),
    ],
    ids=["both fail", "neither installed", "rename fails"],
)
def test_fetch_failures(fakes, curl, wget, cause, keeps_tmp):
    for name, behaviour in (("curl", curl), ("wget", wget)):
        if behaviour:
            fakes.install(name, behaviour)
    cache = fakes.root / "cache"
    target = cache / "hp.json"

    with pytest.raises(OSError) as info:
        corvanta.Corvanta.fetch_latest(str(cache))

    assert info.value.args == (FETCH_FAILED + cause.format(target=target),)
    assert info.value.errno is None and info.value.strerror is None
    assert info.value.__cause__ is None
    assert not target.is_file()
    assert (cache / "hp.json.tmp").exists() == keeps_tmp


@pytest.mark.parametrize(
    "content, outcome",
    [
        ("", "failed to load HPO ontology from {target}: Reading graph document"),
        (RELEASE.replace("2025-01-01", "2024-06-30"), "2024-06-30"),
    ],
    ids=["empty", "valid"],
)
def test_cached_release_is_reused_without_running_anything(fakes, content, outcome):
    fakes.install("curl", fakes.writes_release)
    fakes.install("wget", fakes.writes_release)
    cache = fakes.root / "cache"
    cache.mkdir()
    target = cache / "hp.json"
    target.write_text(content, encoding="utf-8")

    try:
        result = corvanta.Corvanta.fetch_latest(str(cache)).version()
    except OSError as error:
        assert error.errno is None
        result = str(error)

    assert result == outcome.format(target=target)
    assert target.read_text(encoding="utf-8") == content
    assert fakes.calls("curl") == fakes.calls("wget") == []


@pytest.mark.parametrize("kind", ["regular file", "below a regular file", "NUL"])
def test_cache_dir_that_cannot_be_a_directory(fakes, kind):
    fakes.install("curl", fakes.writes_release)
    (fakes.root / "file").write_text("")
    cache_dir = {
        "regular file": str(fakes.root / "file"),
        "below a regular file": str(fakes.root / "file" / "sub"),
        "NUL": str(fakes.root) + "\0cache",
    }[kind]

    with pytest.raises(OSError) as info:
        corvanta.Corvanta.fetch_latest(cache_dir)

    assert info.value.args == (FETCH_FAILED + "failed to create cache directory " + cache_dir,)
    assert info.value.errno is None
    assert fakes.calls("curl") == []


def test_cache_dir_reaches_the_program_as_one_literal_argument(fakes):
    fakes.install("curl", fakes.writes_release)
    marker = fakes.root / "pwned"
    cache = fakes.root / f"a b 'c' \"d\" $(touch {marker}) `touch {marker}`; touch {marker} #"

    fetched = corvanta.Corvanta.fetch_latest(str(cache))

    assert fetched.version() == "2025-01-01"
    assert fakes.calls("curl") == [curl_argv(cache / "hp.json.tmp")]
    assert not marker.exists()


def test_a_path_object_is_refused_before_anything_happens(fakes):
    fakes.install("curl", fakes.writes_release)
    with pytest.raises(TypeError):
        corvanta.Corvanta.fetch_latest(fakes.root / "cache")
    assert not (fakes.root / "cache").exists()


def test_signature_and_docstring():
    fetch_latest = corvanta.Corvanta.fetch_latest
    assert fetch_latest.__text_signature__ == "(cache_dir)"
    assert fetch_latest.__doc__.startswith("Fetches (or reuses a cached) latest HPO release into")


def test_download_programs_inherit_the_standard_streams(fakes, capfd):
    fakes.install("curl", f"echo to-stdout; echo to-stderr >&2; {fakes.writes_release}")
    corvanta.Corvanta.fetch_latest(str(fakes.root / "cache"))
    captured = capfd.readouterr()
    assert "to-stdout" in captured.out
    assert "to-stderr" in captured.err


def test_other_threads_run_during_the_download(fakes):
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
        fetched = corvanta.Corvanta.fetch_latest(str(fakes.root / "cache"))
    finally:
        helper.join()
    assert fetched.version() == "2025-01-01"


def test_processes_that_miss_one_cache_together_download_it_once(fakes):
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

    outputs = [child.communicate(timeout=60)[0] for child in run_children(fakes, cache, 3)]

    assert outputs == ["2025-01-01\n"] * 3
    assert len(fakes.calls("curl")) == 1
    assert fakes.calls("wget") == []
    assert (cache / "hp.json").read_text(encoding="utf-8") == RELEASE


@pytest.mark.parametrize(
    "to_group",
    [True, False],
    ids=["Ctrl-C in a terminal", "SIGINT to the interpreter alone"],
)
def test_sigint_stops_the_fetch_and_leaves_no_file(fakes, to_group):
    fakes.install("curl", f'printf partial > "$out"; : > \'{fakes.root / "started"}\'; exec sleep 30')
    fakes.install("wget", fakes.writes_release)
    cache = fakes.root / "cache"

    (child,) = run_children(fakes, cache, 1)
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
    assert not (cache / "hp.json").exists()
    assert not (cache / "hp.json.tmp").exists()


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
    out = subprocess.run([sys.executable, "-c", SUBINTERPRETER_CHILD, str(fakes.root / "cache"), str(started)],
                         env=env, capture_output=True, text=True, timeout=60)
    assert (out.returncode, out.stdout) == (0, "sub: 2025-01-01\nmain: KeyboardInterrupt\n"), out.stderr
