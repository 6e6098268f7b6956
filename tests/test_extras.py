"""Installing the extras one after the other leaves every path working: [dask]
installed after [spacy,serve] (offline, from the wheelhouse) keeps the spaCy
component and its assertions running."""
import os
import sys

import pytest

from fresh_install import ROOT, WHEELHOUSE, run

# The spaCy path, the native assertion in it, and the command line's default.
SPACY_PATH = """
import spacy
nlp = spacy.blank("en")
nlp.add_pipe("corvanta")
print([(e.kb_id_, e._.assertion.flags) for e in nlp("No ataxia. His mother has scoliosis.").ents])
"""


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    """This package as a wheel for this interpreter, from the build directory
    the environment's own install used (only what changed is compiled)."""
    out = tmp_path_factory.mktemp("wheel")
    run([sys.executable, "-m", "pip", "wheel", "-q", "--no-deps", "--no-build-isolation", "-w", out,
         ROOT])
    (built,) = out.glob("corvanta-*.whl")
    return built


def test_dask_after_spacy_and_serve_keeps_the_spacy_path(wheel, tmp_path):
    if os.environ.get("CORVANTA_SANITIZED") == "1":
        pytest.skip("installs an uninstrumented build: checked in the main run")
    stamp = WHEELHOUSE / "requirements"
    if not stamp.exists() or "spacy" not in stamp.read_text():
        pytest.skip(f"no extras' wheels in {WHEELHOUSE}: scripts/test-extras.sh fetches them")
    run([sys.executable, "-m", "venv", tmp_path / "venv"])
    python = tmp_path / "venv" / "bin" / "python"
    for extras in ("spacy,serve", "dask"):
        run([python, "-m", "pip", "install", "-q", "--no-index", "--find-links", WHEELHOUSE,
             f"{wheel}[{extras}]"])
    run([python, "-m", "pip", "check"])
    out = run([python, "-c", SPACY_PATH], cwd=tmp_path).stdout
    assert out.strip() == "[('HP:0001251', ('negated',)), ('HP:0002650', ('family',))]"
