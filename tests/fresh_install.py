"""Installing the built package into fresh virtual environments, offline, and
the smoke run that checks an installation: a matcher from the real release,
one sentence annotated, the command line run."""
from __future__ import annotations

import glob
import json
import os
import pathlib
import shutil
import subprocess

import pytest

from conftest import REAL_RELEASE

ROOT = pathlib.Path(__file__).resolve().parents[1]
# Filled by scripts/test-extras.sh: the wheels of the dependencies and of the
# build backend, so that nothing here needs the network.
WHEELHOUSE = ROOT / "build" / "wheelhouse"
SENTENCE = "\u0130stanbul: no evidence of seizures. Short stature and ataxia."
SMOKE = """
import sys, corvanta
from corvanta_tools import CharOffsets
matcher = corvanta.Corvanta(sys.argv[1])
offsets = CharOffsets(sys.argv[2])
for hit in matcher.map_text(sys.argv[2]):
    print(hit.term_id, hit.label, hit.excluded, offsets.char_span(hit.span))
"""
# "İ" lower-cases to two characters, three bytes: byte spans run one ahead.
EXPECTED_HITS = ["HP:0001250 Seizures True (25, 33)", "HP:0004322 Short stature False (35, 48)",
                 "HP:0001251 Ataxia False (53, 59)"]
# Set by the test run (the sanitized one preloads ASan, the developer's one
# points at the source tree); an installation is run without them.
RUN_ONLY = ("PYTHONPATH", "PYTHONHOME", "VIRTUAL_ENV", "LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")


def interpreter(version: str) -> str | None:
    """A pyenv build of that version, else python<version> on PATH, if it runs
    (a pyenv shim on PATH may point to no installed build)."""
    root = pathlib.Path(os.environ.get("PYENV_ROOT", pathlib.Path.home() / ".pyenv"))
    builds = sorted(glob.glob(str(root / "versions" / f"{version}.*" / "bin" / f"python{version}")))
    for candidate in [*builds[-1:], shutil.which(f"python{version}")]:
        if candidate and subprocess.run([candidate, "-c", ""], capture_output=True).returncode == 0:
            return candidate
    return None


def plain_environment() -> dict[str, str]:
    return {name: value for name, value in os.environ.items() if name not in RUN_ONLY}


def run(command: list[str], wrap=lambda command: command, **kwargs) -> subprocess.CompletedProcess[str]:
    """Runs a command (through `wrap`, e.g. into a clean room); fails the test
    with its output when it fails."""
    result = subprocess.run(wrap([str(word) for word in command]), capture_output=True, text=True,
                            env=plain_environment(), **kwargs)
    assert result.returncode == 0, f"{command} failed:\n{result.stdout[-2000:]}{result.stderr[-4000:]}"
    return result


def requirements() -> None:
    """Skips the test when what it needs is missing."""
    if not (WHEELHOUSE / "requirements").exists():
        pytest.skip(f"no dependency wheels in {WHEELHOUSE}: scripts/test-extras.sh fetches them")


def fresh_venv(python: str, where: pathlib.Path, package: pathlib.Path, wrap=lambda command: command) -> pathlib.Path:
    """A new virtual environment with `package` (a wheel or an sdist) and its
    dependencies installed from the wheelhouse; returns its bin directory."""
    run([python, "-m", "venv", where], wrap)
    run([where / "bin" / "python", "-m", "pip", "install", "-q", "--no-index", "--find-links", WHEELHOUSE,
         package], wrap)
    return where / "bin"


def check_installation(bin_dir: pathlib.Path, tmp_path: pathlib.Path, wrap=lambda command: command) -> None:
    """The installed module recognises the sentence's concepts, and the
    installed command line annotates a note."""
    smoke = run([bin_dir / "python", "-c", SMOKE, REAL_RELEASE, SENTENCE], wrap, cwd=tmp_path)
    assert smoke.stdout.splitlines() == EXPECTED_HITS
    note = tmp_path / "note.txt"
    note.write_text("Ataxia.")
    cli = run([bin_dir / "corvanta", "annotate", "--hpo", REAL_RELEASE, "--format", "jsonl", note], wrap,
              cwd=tmp_path)
    assert [json.loads(line)["term_id"] for line in cli.stdout.splitlines()] == ["HP:0001251"]
