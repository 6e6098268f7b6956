"""The command line and the character-offset helper."""
import gzip
import json
import os
import pathlib
import pty
import subprocess
import sys
import unicodedata

import pytest

import corvanta
from conftest import node, phenotypes, release, run, write_json
from corvanta_tools import CharOffsets
from corvanta_tools.cli import EXIT_INPUT, EXIT_OUTPUT, EXIT_RELEASE, EXIT_USAGE

CLI = str(pathlib.Path(sys.executable).with_name("corvanta"))
UNASSIGNED = next(chr(c) for c in range(0x378, 0x10000) if unicodedata.category(chr(c)) == "Cn")


@pytest.mark.parametrize(
    "text, expected",
    [
        ("Ataxia and no evidence of fever.", ["Ataxia", "fever"]),
        ("\u00e9 ataxia", ["ataxia"]),                            # two bytes, unchanged by lower-casing
        ("\u0130 ataxia, \u212a fever", ["ataxia", "fever"]),     # grows to three bytes, shrinks to one
        ("\u03a3\u0391\u03a3 ataxia", ["ataxia"]),                # final sigma: same length either way
        ("\U0001d4d0 \u0130\u0130 \U0001f600 tremor", ["tremor"]),  # astral characters
        ("\u0130ataxia", ["ataxia"]),       # U+0130 lower-cases to i and a combining dot, which ends a word
        (f"ataxia {UNASSIGNED} fever", ["ataxia", None]),         # past a character the tables do not know
    ],
)
def test_char_spans(small, text, expected):
    offsets = CharOffsets(text)
    spans = [offsets.char_span(hit.span) for hit in small.map_text(text)]
    assert [text[s[0]:s[1]] if s else None for s in spans] == expected


@pytest.mark.parametrize(
    "text, span, chars, matched",
    [
        ("abc", (1, 3), (1, 3), "bc"),
        ("x\u0130y", (1, 2), None, "i"),            # ends between U+0130's two lower-case characters
        ("x\u0130y", (1, 4), (1, 2), "\u0130"),
        ("x\u0130y", (4, 5), (2, 3), "y"),
        ("\u212ay", (1, 2), (1, 2), "y"),          # KELVIN SIGN: three bytes, lower-cased to one
        ("abc", (2, 4), None, "c"),                 # past the end
    ],
)
def test_char_span_bounds(text, span, chars, matched):
    offsets = CharOffsets(text)
    assert (offsets.char_span(span), offsets.matched_text(span)) == (chars, matched)


def test_lowered_lengths_agree_with_the_library(tmp_path):
    """Every code point, lower-cased by the library, has the UTF-8 length that
    the helper assumes; this is what makes its conversion exact."""
    marker = corvanta.Corvanta(write_json(tmp_path / "hp.json", phenotypes([("0000001", "Zqx")])))
    code_points = [c for c in range(0x80, 0x110000)
                   if not 0xD800 <= c < 0xE000 and unicodedata.category(chr(c)) != "Cn"]
    for i in range(0, len(code_points), 4096):
        chunk = "".join(map(chr, code_points[i:i + 4096]))
        text = chunk + " zqx"
        (hit,) = [h for h in marker.map_text(text) if h.label == "Zqx"]
        assert CharOffsets(text).char_span(hit.span) == (len(text) - 3, len(text)), (
            f"lower-casing lengths differ in U+{code_points[i]:04X}..")


NOTE = "Ataxia since \u0130stanbul.\nNo evidence of fever; short\tstature with tremor."


@pytest.fixture
def note(tmp_path):
    path = tmp_path / "note.txt"
    path.write_text(NOTE, encoding="utf-8")
    return str(path)


def test_tsv(capsys, small_release, note):
    """The default TSV: the record columns, then the assertion's (ConText by default)."""
    code, out, err = run(capsys, "annotate", "--hpo", small_release, note)
    assert code == 0 and err == ""
    lines = out.splitlines()
    assert lines[0] == ("document\tterm_id\tlabel\tterm_label\tchar_start\tchar_end\tbyte_start\tbyte_end"
                        "\texcluded\ttext\tis_negated\tis_uncertain\tis_historical\tis_hypothetical"
                        "\tis_family\tmodifiers")
    unmodified = "\tfalse" * 5 + "\t[]"
    fever = ("\ttrue" + "\tfalse" * 4 + '\t[{"category": "NEGATED_EXISTENCE", "text": "No evidence of", '
             '"char_span": [23, 37]}]')
    assert lines[1:] == [
        f"{note}\tHP:0001251\tAtaxia\tAtaxia\t0\t6\t0\t6\tfalse\tAtaxia{unmodified}",
        f"{note}\tHP:0001945\tFever\tFever\t38\t43\t40\t45\ttrue\tfever{fever}",
        f"{note}\tHP:0004322\tShort stature\tShort stature\t45\t58\t47\t60\tfalse\tshort\\tstature{unmodified}",
        f"{note}\tHP:0001337\tTremor\tTremor\t64\t70\t66\t72\tfalse\ttremor{unmodified}",
    ]
    code, out, _ = run(capsys, "annotate", "--hpo", small_release, "--assertion", "library", note)
    assert [line.split("\t") for line in out.splitlines()] == [
        line.split("\t")[:10] for line in lines]


def test_jsonl_and_longest(capsys, small_release, tmp_path):
    text = "Short stature. Epileptic seizures and seizure epileptic."
    path = tmp_path / "n.txt"
    path.write_text(text)
    code, out, _ = run(capsys, "annotate", "--hpo", small_release, "--format", "jsonl",
                       "--assertion", "library", str(path))
    records = [json.loads(line) for line in out.splitlines()]
    assert code == 0 and records[0] == {
        "document": str(path), "term_id": "HP:0004322", "label": "Short stature",
        "term_label": "Short stature", "char_span": [0, 13], "byte_span": [0, 13], "excluded": False,
        "text": "Short stature"}
    code, longest, _ = run(capsys, "annotate", "--hpo", small_release, "--format", "jsonl", "--longest",
                           "--assertion", "library", str(path))
    kept = [json.loads(line) for line in longest.splitlines()]
    # "seizures" inside "Epileptic seizures" goes; nothing else changes.
    assert code == 0 and kept == [r for r in records if r["char_span"] != [25, 33]]
    assert len(records) == 4


def test_directories_expand_to_matching_files(capsys, small_release, tmp_path):
    for name in ("b.txt", "sub/a.txt", "c.md"):
        (tmp_path / name).parent.mkdir(exist_ok=True)
        (tmp_path / name).write_text("Ataxia.")
    code, out, _ = run(capsys, "annotate", "--hpo", small_release, str(tmp_path))
    assert code == 0
    assert [line.split("\t")[0] for line in out.splitlines()[1:]] == [
        str(tmp_path / "b.txt"), str(tmp_path / "sub" / "a.txt")]


@pytest.mark.parametrize(
    "argv, code, message",
    [
        (["{tmp}/missing.txt"], EXIT_INPUT, "cannot read {tmp}/missing.txt: no such file or directory"),
        (["{tmp}/latin1.txt"], EXIT_INPUT, "cannot read {tmp}/latin1.txt: not utf-8 text"),
        (["{tmp}/empty"], EXIT_INPUT, "no files matching *.txt in {tmp}/empty"),
        (["{tmp}/latin1.txt", "--encoding", "latin-2.5"], EXIT_USAGE, "unknown encoding latin-2.5"),
        (["{tmp}/latin1.txt", "--encoding", "latin-1", "-o", "{tmp}/no/out.tsv"], EXIT_OUTPUT,
         "cannot write {tmp}/no/out.tsv"),
        (["{tmp}/latin1.txt", "--encoding", "latin-1", "-o", "/dev/full"], EXIT_OUTPUT,
         "cannot write /dev/full: No space left on device"),
    ],
)
def test_bad_inputs_and_outputs(capsys, small_release, tmp_path, argv, code, message):
    (tmp_path / "latin1.txt").write_bytes("Fi\u00e8vre".encode("latin-1"))
    (tmp_path / "empty").mkdir()
    result = run(capsys, "annotate", "--hpo", small_release, *(a.format(tmp=tmp_path) for a in argv))
    assert result[0] == code
    assert result[2].startswith("corvanta: error: " + message.format(tmp=tmp_path))
    assert result[2].count("\n") == 1


@pytest.mark.parametrize(
    "make, messages",
    [
        (lambda p: None, ["failed to load HPO ontology from "]),
        (lambda p: p.write_text(json.dumps(release([node("0000118", "Phenotypic abnormality")], [],
                                                   version=None))), ["Ontology should have a version"]),
        # A read failure carries a hint at what the file is.
        *[(make, ["Reading graph document (", hint]) for make, hint in [
            (lambda p: p.write_text("format-version: 1.2\nontology: hp\n"), "is an OBO flat file"),
            (lambda p: p.write_bytes(b""), "the file is empty"),
            (lambda p: p.mkdir(), "that is a directory"),
            (lambda p: p.write_bytes(gzip.compress(gzip.compress(b"{}"))), "holds gzip data"),
        ]],
    ],
)
def test_bad_release(capsys, note, tmp_path, make, messages):
    path = tmp_path / "hp.json"
    make(path)
    code, out, err = run(capsys, "annotate", "--hpo", str(path), note)
    assert (code, out) == (EXIT_RELEASE, "")
    assert err.startswith("corvanta: error: ") and all(m in err for m in messages), err


def test_version(small_release):
    plain = subprocess.run([CLI, "--version"], capture_output=True, text=True, check=True).stdout
    full = subprocess.run([CLI, "--version", "--hpo", small_release], capture_output=True, text=True,
                          check=True).stdout
    assert plain.startswith("corvanta 0.") and full == plain.rstrip("\n") + ", HPO release 2025-01-01\n"


def test_standard_input(small_release):
    result = subprocess.run([CLI, "annotate", "--hpo", small_release, "--format", "jsonl"],
                            input="Denies headache.", capture_output=True, text=True, check=True)
    record = json.loads(result.stdout)
    assert (record["document"], record["term_id"], record["excluded"]) == ("<stdin>", "HP:0002315", True)


@pytest.mark.parametrize("terminal", [True, False])
def test_progress_bar_only_on_a_terminal(small_release, tmp_path, terminal):
    notes = []
    for i in range(12):
        notes.append(tmp_path / f"{i}.txt")
        notes[-1].write_text("Ataxia.")
    reader, writer = pty.openpty() if terminal else os.pipe()
    process = subprocess.Popen([CLI, "annotate", "--hpo", small_release, *map(str, notes)],
                               stdout=subprocess.DEVNULL, stderr=writer)
    os.close(writer)
    err = b""
    while chunk := read_or_eof(reader):
        err += chunk
    os.close(reader)
    assert process.wait() == 0
    assert (b"12/12" in err) == terminal


def read_or_eof(fd):
    try:
        return os.read(fd, 4096)
    except OSError:  # a pty reports EIO once its other side is closed
        return b""


def test_closed_pipe_ends_quietly(small_release, tmp_path):
    path = tmp_path / "long.txt"
    path.write_text("Ataxia and fever. " * 20000)
    process = subprocess.Popen([CLI, "annotate", "--hpo", small_release, str(path)],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    process.stdout.readline()
    process.stdout.close()
    assert process.wait() == 141 and process.stderr.read() == b""
