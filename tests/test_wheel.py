"""`pip wheel .` gives one abi3 wheel that installs and runs on the oldest and
the newest supported interpreter."""
import glob
import os
import pathlib
import shutil
import subprocess
import sys
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
SMOKE = """
import sys, corvanta
from corvanta_tools import CharOffsets
matcher = corvanta.Corvanta(sys.argv[1])
text = "\\u0130stanbul: no evidence of fever."
(hit,) = matcher.map_text(text)
assert (hit.term_id, hit.excluded, hit.span) == ("HP:0001945", True, (27, 32)), hit
assert CharOffsets(text).char_span(hit.span) == (25, 30)
print(matcher.version())
"""


def interpreter(version):
    """A pyenv build of that version, else python<version> on PATH, if it runs
    (a pyenv shim on PATH may point to no installed build)."""
    root = pathlib.Path(os.environ.get("PYENV_ROOT", pathlib.Path.home() / ".pyenv"))
    builds = sorted(glob.glob(str(root / "versions" / f"{version}.*" / "bin" / f"python{version}")))
    for candidate in [*builds[-1:], shutil.which(f"python{version}")]:
        if candidate and subprocess.run([candidate, "-c", ""], capture_output=True).returncode == 0:
            return candidate
    return None


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    out = tmp_path_factory.mktemp("wheel")
    # Without build isolation pip reuses the build directory of the installed package.
    subprocess.run([sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps", "-q",
                    "-w", str(out), str(ROOT)], check=True, capture_output=True)
    (built,) = out.glob("*.whl")
    return built


def test_wheel_contents(wheel):
    assert wheel.name.startswith("corvanta-") and "-cp310-abi3-" in wheel.name
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        entry_points = next(archive.read(n).decode() for n in names if n.endswith("entry_points.txt"))
    assert {"corvanta.abi3.so", "corvanta.pyi", "corvanta-stubs/__init__.pyi", "corvanta_tools/py.typed",
            "corvanta_tools/__init__.py", "corvanta_tools/cli/__init__.py"} <= names
    assert "corvanta = corvanta_tools.cli:main" in entry_points


@pytest.mark.parametrize("version", ["3.10", "3.13"])
def test_fresh_environment(wheel, version, small_release, tmp_path):
    python = interpreter(version)
    if python is None:
        pytest.skip(f"Python {version} is not installed")
    env = tmp_path / "venv"
    subprocess.run([python, "-m", "venv", str(env)], check=True)
    subprocess.run([env / "bin" / "python", "-m", "pip", "install", "-q", str(wheel)], check=True,
                   capture_output=True)
    smoke = subprocess.run([env / "bin" / "python", "-c", SMOKE, small_release], cwd=tmp_path,
                           capture_output=True, text=True)
    assert smoke.stdout == "2025-01-01\n", smoke.stderr
    note = tmp_path / "note.txt"
    note.write_text("Ataxia.")
    cli = subprocess.run([env / "bin" / "corvanta", "annotate", "--hpo", small_release, str(note)],
                         capture_output=True, text=True, check=True)
    assert cli.stdout.splitlines()[1].split("\t")[1:5] == ["HP:0001251", "Ataxia", "0", "6"]
