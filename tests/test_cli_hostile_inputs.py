"""The command line given file names, locales, patterns and texts that broke it."""
import json
import os
import pathlib
import subprocess
import sys

import pytest

CLI = str(pathlib.Path(sys.executable).with_name("corvanta"))
FORMATS = ["tsv", "jsonl", "html", "table"]
LINE_ENDS = "\v\f\x1c\x1d\x1e\x85\u2028\u2029"


def corvanta(*argv, env=None):
    return subprocess.run([CLI, *argv], capture_output=True, env={**os.environ, **(env or {})})


@pytest.mark.parametrize("fmt", FORMATS)
def test_a_file_name_that_is_not_utf8_is_shown_with_replacement_characters(small_release, tmp_path, fmt):
    notes = tmp_path / "notes"
    notes.mkdir()
    (pathlib.Path(os.fsdecode(bytes(notes) + b"/caf\xe9.txt"))).write_text("Ataxia.")
    (notes / "z.txt").write_text("Fever.")
    result = corvanta("annotate", "--hpo", small_release, "--format", fmt, str(notes))
    assert result.returncode == 0, result.stderr
    out = result.stdout.decode("utf-8")
    assert "caf\ufffd.txt" in out and "z.txt" in out


def test_output_is_utf8_whatever_the_locale(small_release, tmp_path):
    note = tmp_path / "\u00e9t\u00e9 \u2192 note.txt"
    note.write_text("ataxia, fever", encoding="utf-8")
    result = corvanta("annotate", "--hpo", small_release, "--format", "jsonl", str(note),
                      env={"PYTHONIOENCODING": "latin-1", "LC_ALL": "C"})
    assert result.returncode == 0, result.stderr
    records = [json.loads(line) for line in result.stdout.decode("utf-8").splitlines()]
    assert [(r["document"], r["text"]) for r in records] == [(str(note), "ataxia"), (str(note), "fever")]


@pytest.mark.parametrize("pattern", ["/etc/*", "../*", "notes/../../*", ""])
def test_a_pattern_that_leaves_the_directory_is_a_usage_error(small_release, tmp_path, pattern):
    (tmp_path / "a.txt").write_text("Ataxia.")
    result = corvanta("annotate", "--hpo", small_release, "--glob", pattern, str(tmp_path))
    assert result.returncode == 2
    assert result.stderr.decode().count("\n") == 1 and "corvanta: error: --glob" in result.stderr.decode()


@pytest.mark.parametrize("fmt", ["tsv", "jsonl"])
def test_line_ends_inside_fields_are_escaped(small_release, tmp_path, fmt):
    names = [tmp_path / f"n{i}{c}.txt" for i, c in enumerate(LINE_ENDS)]
    for name in names:
        name.write_text(f"short{LINE_ENDS[0]}stature. Ataxia{LINE_ENDS[-1]}.")
    result = corvanta("annotate", "--hpo", small_release, "--format", fmt, *map(str, names))
    assert result.returncode == 0, result.stderr
    lines = result.stdout.decode("utf-8").splitlines()
    assert len(lines) == len(names) * 2 + (fmt == "tsv")
    if fmt == "jsonl":
        assert {json.loads(line)["document"] for line in lines} == set(map(str, names))
    else:
        assert {len(line.split("\t")) for line in lines} == {len(lines[0].split("\t"))}


def test_bidirectional_controls_are_visible_in_the_report(small_release, tmp_path):
    note = tmp_path / "note.txt"
    note.write_text("Ataxia \u202efever\u202c and \u2067tremor\u2069.")
    result = corvanta("annotate", "--hpo", small_release, "--format", "html", str(note))
    page = result.stdout.decode("utf-8")
    assert not any(c in page for c in "\u202e\u202c\u2067\u2069")
    assert page.count('class="bidi"') == 4 and "U+202E" in page
