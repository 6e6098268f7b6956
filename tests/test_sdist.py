"""`python -m build --sdist` gives a source archive without build outputs that
builds and installs in a fresh environment (against the system's -dev
libraries) and runs."""
import os
import subprocess
import sys
import tarfile

import pytest

from conftest import require

from fresh_install import ROOT, check_installation, fresh_venv, interpreter, requirements, run

# Build outputs, environments and caches: never in the archive.
EXCLUDED_DIRECTORIES = {"build", "dist", ".venv", "__pycache__", ".pytest_cache", ".mypy_cache"}
EXCLUDED_SUFFIXES = (".so", ".pyc", ".whl")


@pytest.fixture(scope="module")
def sdist(tmp_path_factory):
    require("build", reason="the PyPI package build is not installed (scripts/setup.sh installs it)")
    out = tmp_path_factory.mktemp("sdist")
    # Without isolation the build backend comes from this environment: no network.
    run([sys.executable, "-m", "build", "--sdist", "--no-isolation", "--outdir", out, ROOT])
    (archive,) = out.glob("corvanta-*.tar.gz")
    return archive


def test_sdist_holds_the_sources_and_no_build_outputs(sdist):
    with tarfile.open(sdist) as archive:
        names = [name.split("/", 1)[1] for name in archive.getnames() if "/" in name]
    unwanted = [n for n in names if EXCLUDED_DIRECTORIES & set(n.split("/")) or n.endswith(EXCLUDED_SUFFIXES)]
    assert unwanted == []
    tracked = subprocess.run(["git", "ls-files", "CMakeLists.txt", "pyproject.toml", "cmake", "data", "src",
                              "python"], cwd=ROOT, capture_output=True, text=True)
    if tracked.returncode != 0:
        pytest.skip(f"not a git checkout, so the sources cannot be listed: {tracked.stderr.strip()}")
    assert set(tracked.stdout.split()) - set(names) == set()


def test_sdist_installs_and_runs(sdist, tmp_path):
    if os.environ.get("CORVANTA_SANITIZED") == "1":
        pytest.skip("the sdist builds an uninstrumented extension: its build is checked in the main run")
    requirements()
    python = interpreter("3.10")
    if python is None:
        pytest.skip("Python 3.10 is not installed")
    # pip builds the extension in an isolated environment, from the wheelhouse.
    check_installation(fresh_venv(python, tmp_path / "venv", sdist), tmp_path)
