"""Named releases on the command line: pinned downloads (with fake curl and
wget first on PATH; no network), the cached latest, gzipped files and the
embedded default."""
import gzip
import hashlib
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import time

import pytest

from conftest import ends_within, phenotypes, write_json
from fake_downloads import FakeDownloads
from corvanta_tools.embedded import EMBEDDED_RELEASE, EMBEDDED_VERSION
from corvanta_tools.releases import Release

CLI = [sys.executable, "-m", "corvanta_tools"]
PINNED = "https://github.com/obophenotype/human-phenotype-ontology/releases/download/v{}/hp.json"
LATEST = "https://purl.obolibrary.org/obo/hp.json"
NOTE = "Ataxia and no fever."


class Downloads(FakeDownloads):
    """The command line with curl and wget (failing unless told otherwise)
    alone on PATH and a cache of its own."""

    def __init__(self, tmp_path, curl="exit 1", wget="exit 1"):
        super().__init__(tmp_path)
        self.cache = tmp_path / "cache"
        self.install("curl", curl)
        self.install("wget", wget)
        self.env = {**os.environ, "PATH": str(self.bin), "XDG_CACHE_HOME": str(tmp_path / "xdg")}

    def run(self, *argv, cache=True):
        extra = ["--cache-dir", str(self.cache)] if cache else []
        return subprocess.run([*CLI, *argv, *extra], env=self.env, capture_output=True, text=True,
                              input=NOTE)

    def no_calls(self):
        return self.calls("curl") == self.calls("wget") == []

    def cache_files(self):
        """The cache's files but its lock, which stays once made (as the extension's does)."""
        return sorted(str(p.relative_to(self.cache)) for p in self.cache.rglob("*")
                      if p.name != "hp.json.lock") if self.cache.exists() else []


def release_file(tmp_path, version):
    document = phenotypes([("0001251", "Ataxia"), ("0001945", "Fever")])
    document["graphs"][0]["meta"]["basicPropertyValues"][0]["val"] = version
    return write_json(tmp_path / f"hp-{version}.json", document)


def copies(path):
    return f'/bin/cp "{path}" "$out"'


def test_pinned_release_is_fetched_once_then_used_offline(tmp_path):
    fakes = Downloads(tmp_path, curl=copies(release_file(tmp_path, "2024-04-26")))
    result = fakes.run("release", "fetch", "2024-04-26")
    target = fakes.cache / "releases" / "2024-04-26" / "hp.json"
    assert (result.returncode, result.stdout) == (0, f"{target}\n"), result.stderr
    (curl,) = fakes.calls("curl")
    assert curl[:5] == ["-L", "--fail", "--silent", "--show-error", "-o"]
    assert curl[6:] == [PINNED.format("2024-04-26")]
    temporary = pathlib.Path(curl[5])
    assert temporary.parent == fakes.cache and not temporary.exists()
    annotated = fakes.run("annotate", "--release", "2024-04-26", "--format", "jsonl")
    assert annotated.returncode == 0, annotated.stderr
    assert [json.loads(line)["term_id"] for line in annotated.stdout.splitlines()] == [
        "HP:0001251", "HP:0001945"]
    assert f"HPO release 2024-04-26 ({target})" in annotated.stderr
    assert len(fakes.calls("curl")) == 1 and fakes.calls("wget") == []  # nothing downloaded again
    assert fakes.cache_files() == ["releases", "releases/2024-04-26",
                                   "releases/2024-04-26/hp.json"]


@pytest.mark.parametrize("curl, message", [
    ('echo partial > "$out"; exit 7', "neither curl nor wget succeeded"),
    ("{copy_other}", "holds release 2025-01-01, not the requested 2024-04-26"),
    ('echo "<html>" > "$out"', "not a usable release"),
])
def test_failed_download_leaves_nothing(tmp_path, curl, message):
    other = release_file(tmp_path, "2025-01-01")
    fakes = Downloads(tmp_path, curl=curl.format(copy_other=copies(other)))
    for argv in (["release", "fetch", "2024-04-26"], ["annotate", "--release", "2024-04-26"]):
        result = fakes.run(*argv)
        assert result.returncode == 5 and message in result.stderr
        assert result.stderr.splitlines()[-1].startswith(
            "corvanta: error: failed to fetch/cache the HPO release: ")
        assert fakes.cache_files() == []


@pytest.mark.parametrize("version", ["2024-4-26", "v2024-04-26", "2024-02-30", "latest", "x"])
def test_malformed_version_is_a_usage_error(tmp_path, version):
    fakes = Downloads(tmp_path)
    result = fakes.run("release", "fetch", version)
    assert result.returncode == 2 and "a date such as 2025-05-06" in result.stderr
    if version != "latest":
        assert fakes.run("annotate", "--release", version).returncode == 2
    assert fakes.no_calls()


def test_a_planted_link_is_not_written_through(tmp_path):
    fakes = Downloads(tmp_path, curl=copies(release_file(tmp_path, "2024-04-26")))
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    (fakes.cache / "releases").mkdir(parents=True)
    (fakes.cache / "releases" / "2024-04-26").symlink_to(elsewhere)
    result = fakes.run("release", "fetch", "2024-04-26")
    assert result.returncode == 5 and "symbolic link" in result.stderr
    assert list(elsewhere.iterdir()) == []


def test_list_info_and_refresh(tmp_path):
    old = release_file(tmp_path, "2024-04-26")
    new = release_file(tmp_path, "2025-03-03")
    fakes = Downloads(tmp_path, curl=f'case "$*" in *purl*) {copies(new)};; *) {copies(old)};; esac')
    assert fakes.run("release", "fetch", "2024-04-26").returncode == 0
    assert fakes.run("annotate", "--release", "latest").returncode == 0  # through fetch_latest
    listed = fakes.run("release", "list").stdout.splitlines()
    assert [line.split()[:2] for line in listed] == [
        ["version", "kind"], [EMBEDDED_VERSION, "embedded"], ["2025-03-03", "latest"],
        ["2024-04-26", "pinned"]]
    assert listed[3].endswith(str(fakes.cache / "releases" / "2024-04-26" / "hp.json"))
    info = fakes.run("release", "info", "--release", "2024-04-26").stdout
    assert "version          2024-04-26\nkind             pinned\n" in info
    assert "HP terms         3 current, 0 obsolete" in info

    latest = fakes.cache / "hp.json"
    latest.write_bytes(pathlib.Path(old).read_bytes())
    refreshed = fakes.run("release", "refresh")
    assert refreshed.returncode == 0, refreshed.stderr
    assert refreshed.stdout == f"latest HPO release: 2024-04-26 -> 2025-03-03 ({latest})\n"
    assert Release(latest).version == "2025-03-03"
    assert fakes.calls("curl")[-1][-1] == LATEST

    before = sorted(fakes.cache.iterdir())
    broken = Downloads(tmp_path / "broken", curl='echo "{" > "$out"')
    broken.cache = fakes.cache
    failed = broken.run("release", "refresh")
    assert failed.returncode == 5 and "not a usable release" in failed.stderr
    assert Release(latest).version == "2025-03-03" and sorted(fakes.cache.iterdir()) == before


def test_latest_is_fetched_once_into_the_user_cache(tmp_path):
    fakes = Downloads(tmp_path, curl=copies(release_file(tmp_path, "2024-04-26")))
    for _ in range(2):
        result = fakes.run("annotate", "--release", "latest", cache=False)
        assert result.returncode == 0 and result.stdout.count("\n") == 3, result.stderr
    assert len(fakes.calls("curl")) == 1
    cached = tmp_path / "xdg" / "corvanta" / "hp.json"
    assert Release(cached).version == "2024-04-26"
    cached.write_text("{")
    result = fakes.run("annotate", "--release", "latest", cache=False)
    assert result.returncode == 4 and f"remove {cached}" in result.stderr
    offline = Downloads(tmp_path / "offline").run("annotate", "--release", "latest", cache=False)
    assert offline.returncode == 5 and offline.stderr.splitlines()[-1].startswith(
        "corvanta: error: failed to fetch/cache the HPO release: ")


def test_embedded_release_is_the_offline_default(tmp_path):
    fakes = Downloads(tmp_path)
    result = fakes.run("annotate", "--format", "jsonl", cache=False)
    assert result.returncode == 0, result.stderr
    assert result.stderr.splitlines()[0] == f"corvanta: HPO release {EMBEDDED_VERSION} (embedded)"
    assert [json.loads(line)["term_id"] for line in result.stdout.splitlines()] == [
        "HP:0001251", "HP:0001945"]
    assert fakes.no_calls()
    # The only cache write is the plain copy of the gzipped file.
    copies_made = list((tmp_path / "xdg" / "corvanta").rglob("*"))
    assert [p.parent.name for p in copies_made if p.is_file()] == ["gunzipped"]


def test_embedded_file_is_the_release_its_name_gives():
    assert EMBEDDED_RELEASE.name == f"hp-{EMBEDDED_VERSION}.json.gz"
    assert Release(EMBEDDED_RELEASE).version == EMBEDDED_VERSION


def test_gzipped_release_is_decompressed_once_by_content(tmp_path):
    plain = release_file(tmp_path, "2024-04-26")
    gzipped = tmp_path / "hp.json.gz"
    gzipped.write_bytes(gzip.compress(pathlib.Path(plain).read_bytes()))
    fakes = Downloads(tmp_path)
    runs = [fakes.run("annotate", "--hpo", str(path)) for path in (plain, gzipped, gzipped)]
    assert [r.returncode for r in runs] == [0, 0, 0] and runs[0].stdout.count("\n") == 3
    assert runs[0].stdout == runs[1].stdout == runs[2].stdout
    (copy,) = (fakes.cache / "gunzipped").iterdir()
    assert copy.read_bytes() == pathlib.Path(plain).read_bytes()
    assert fakes.cache_files() == ["gunzipped", f"gunzipped/{copy.name}"]


def test_broken_gzip_is_a_release_error(tmp_path):
    broken = tmp_path / "hp.json.gz"
    broken.write_bytes(gzip.compress(b"{}")[:12])
    result = Downloads(tmp_path).run("annotate", "--hpo", str(broken))
    assert result.returncode == 4 and f"{broken}: broken gzip data" in result.stderr


def test_default_matcher_is_built_once(tmp_path, monkeypatch):
    monkeypatch.setenv("XDG_CACHE_HOME", str(tmp_path))
    from corvanta_tools import default_matcher, default_release_path
    assert default_release_path().startswith(str(tmp_path))
    assert default_matcher() is default_matcher()
    assert default_matcher().version() == EMBEDDED_VERSION


def test_embedded_release_is_intact():
    expected = json.loads((pathlib.Path(__file__).parent / "embedded_release.json").read_text())
    release = Release(EMBEDDED_RELEASE)
    assert {"version": release.version, "hp_terms": release.term_count,
            "obsolete_terms": release.obsolete_count, "alternative_ids": release.alt_id_count,
            "sha256": hashlib.sha256(gzip.decompress(EMBEDDED_RELEASE.read_bytes())).hexdigest(),
            } == expected


def test_a_gzip_bomb_is_a_release_error_that_leaves_nothing(tmp_path, monkeypatch, capsys):
    from corvanta_tools import main, release_cache, releases
    for module in (release_cache, releases):
        monkeypatch.setattr(module, "MAX_RELEASE_BYTES", 1 << 20)
    bomb, note, cache = tmp_path / "hp.json.gz", tmp_path / "note.txt", tmp_path / "cache"
    bomb.write_bytes(gzip.compress(b" " * (2 << 20)))
    note.write_text(NOTE)
    code = main(["annotate", "--hpo", str(bomb), "--cache-dir", str(cache), str(note)])
    assert code == 4 and capsys.readouterr().err.splitlines() == [
        f"corvanta: error: {bomb}: decompresses to more than 1 MiB; no HPO release is that large"]
    assert [p for p in cache.rglob("*") if not p.is_dir()] == []


def embedded_copy(cache):
    digest = hashlib.sha256(EMBEDDED_RELEASE.read_bytes()).hexdigest()
    return cache / "gunzipped" / f"{digest}.json"


def plant(path, content=None, link_to=None):
    path.parent.mkdir(parents=True, exist_ok=True)
    if link_to is not None:
        path.symlink_to(link_to)
    else:
        path.write_bytes(content)


def padded(release, size):
    data = pathlib.Path(release).read_bytes()
    return data + b" " * (size - len(data))


@pytest.mark.parametrize("planted, argv, outcome", [
    ("other", [], 0),
    ("link", [], 0),
    ("other of the same size", [], "holds release 1999-01-01, not {embedded}; delete it"),
    ("other", ["--release", "2024-04-26"], "holds release 1999-01-01, not 2024-04-26; delete it"),
    ("link", ["--release", "2024-04-26"], "is not a regular file (a link is not followed there)"),
])
def test_a_cached_file_is_checked_before_use(tmp_path, planted, argv, outcome):
    fakes = Downloads(tmp_path)
    other = release_file(tmp_path, "1999-01-01")
    target = (fakes.cache / "releases" / "2024-04-26" / "hp.json" if argv
              else embedded_copy(fakes.cache))
    size = len(gzip.decompress(EMBEDDED_RELEASE.read_bytes()))
    plant(target, link_to=other if planted == "link" else None,
          content=padded(other, size) if planted.endswith("size") else pathlib.Path(other).read_bytes())
    result = fakes.run("annotate", *argv)
    if outcome == 0:
        assert result.returncode == 0 and not target.is_symlink(), result.stderr
        assert f"HPO release {EMBEDDED_VERSION} (embedded)" in result.stderr
        assert target.read_bytes() == gzip.decompress(EMBEDDED_RELEASE.read_bytes())
    else:
        (line,) = result.stderr.splitlines()
        assert result.returncode == 4 and str(target) in line and outcome.format(
            embedded=EMBEDDED_VERSION) in line
    assert Release(other).version == "1999-01-01"  # a linked file is never written
    if argv and planted == "other":
        listed = fakes.run("release", "list").stdout
        assert "2024-04-26 (holds 1999-01-01)" in listed


@pytest.mark.skipif(not pathlib.Path("/proc/self/stat").exists(), reason="needs /proc (Linux)")
@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGHUP, signal.SIGKILL])
def test_a_download_ends_with_corvanta(tmp_path, signum):
    slow, pid_file = tmp_path / "slow", tmp_path / "curl.pid"
    release = release_file(tmp_path, "2024-04-26")
    fakes = Downloads(tmp_path, curl=f'if [ -e "{slow}" ]; then echo partial > "$out"; '
                                     f'echo $$ > "{pid_file}"; exec /bin/sleep 60; fi\n'
                                     + copies(release))
    slow.touch()
    corvanta = subprocess.Popen([*CLI, "release", "fetch", "2024-04-26", "--cache-dir",
                                 str(fakes.cache)], env=fakes.env, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 60
    while not (pid_file.exists() and pid_file.read_text().strip()) and time.monotonic() < deadline:
        assert corvanta.poll() is None, corvanta.stderr.read()
        time.sleep(0.05)
    corvanta.send_signal(signum)
    assert corvanta.wait(30) == -signum
    assert ends_within(int(pid_file.read_text()))
    left = fakes.cache_files()  # SIGKILL leaves the temporary file, nothing else does
    assert [re.fullmatch(r"\.hp\.json\..+\.tmp", name) is not None for name in left] == (
        [True] if signum == signal.SIGKILL else [])
    # A temporary file its process left for good goes with the next download.
    slow.unlink()
    assert fakes.run("release", "fetch", "2024-04-26").returncode == 0
    assert fakes.cache_files() == ["releases", "releases/2024-04-26", "releases/2024-04-26/hp.json"]
