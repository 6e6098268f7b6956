"""The scale-out examples give exactly the records of the command line."""
import importlib.util
import pathlib
import subprocess
import sys

import pytest

from corvanta_tools import main

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"
SAMPLE = (EXAMPLES / "sample_note.txt").read_text(encoding="utf-8")
VARIANTS = ["", " No evidence of tremor.", " Denies cough but has fever.", " \u0130 obesity; \u212a headache."]


@pytest.fixture(scope="module")
def collection(tmp_path_factory, small_release):
    """A few hundred notes and what `corvanta annotate --format jsonl` makes of them."""
    notes = tmp_path_factory.mktemp("notes")
    for i in range(300):
        (notes / f"{i // 100}" / f"note{i:03d}.txt").parent.mkdir(exist_ok=True)
        (notes / f"{i // 100}" / f"note{i:03d}.txt").write_text(SAMPLE + VARIANTS[i % 4], encoding="utf-8")
    expected = notes.parent / "expected.jsonl"
    assert main(["annotate", "--hpo", small_release, "--format", "jsonl", "-o", str(expected), str(notes)]) == 0
    return notes, expected.read_text(encoding="utf-8")


def test_multiprocessing(collection, small_release, tmp_path):
    notes, expected = collection
    out = tmp_path / "out.jsonl"
    subprocess.run([sys.executable, str(EXAMPLES / "annotate_multiprocessing.py"), "--hpo", small_release,
                    "--processes", "2", "--output", str(out), str(notes)], check=True, capture_output=True)
    assert out.read_text(encoding="utf-8") == expected


@pytest.mark.skipif(importlib.util.find_spec("distributed") is None,
                    reason="dask[distributed] is not installed (scripts/test-extras.sh installs it)")
def test_dask_with_two_workers(collection, small_release, tmp_path):
    notes, expected = collection
    subprocess.run([sys.executable, str(EXAMPLES / "annotate_dask.py"), "--hpo", small_release,
                    "--workers", "2", str(notes), str(tmp_path / "out")], check=True, capture_output=True,
                   timeout=300)
    parts = sorted((tmp_path / "out").glob("part-*.jsonl"), key=lambda p: int(p.stem.split("-")[1]))
    assert len(parts) == 3
    assert "".join(p.read_text(encoding="utf-8") for p in parts) == expected
