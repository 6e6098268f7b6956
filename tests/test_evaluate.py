"""Scoring against gold annotations, and `corvanta evaluate` on a small corpus."""
import json

import pytest

from conftest import require

from corvanta_tools.cli import main
from corvanta_tools.evaluate import GoldDocument, Mention, score


class Primary:
    def primary_id(self, term_id):
        return {"HP:0000010": "HP:0000001"}.get(term_id, term_id)


GOLD = [
    GoldDocument("a", (), (Mention((0, 10), "HP:0000010"), Mention((20, 30), "HP:0000002"),
                           Mention((40, 45), "HP:0000003"))),
    GoldDocument("b", (), (Mention((0, 5), "HP:0000004"),)),
]
FOUND = {
    "a": [Mention((0, 10), "HP:0000001"),  # strict, through the alternative id
          Mention((22, 35), "HP:0000002"),  # lenient only
          Mention((50, 55), "HP:0000009"),  # wrong
          Mention((40, 45), "HP:0000003", excluded=True)],  # right, but negated
    "c": [Mention((0, 1), "HP:0000001")],  # not a gold document: ignored
}


@pytest.mark.parametrize("keep_excluded, document, lenient, strict", [
    # (found, gold, found right, gold found) per view
    (False, (3, 4, 2, 2), (3, 4, 2, 2), (3, 4, 1, 1)),
    (True, (4, 4, 3, 3), (4, 4, 3, 3), (4, 4, 2, 2)),
])
def test_views(keep_excluded, document, lenient, strict):
    total = score(GOLD, FOUND, Primary(), keep_excluded).total
    for counts, expected in ((total.document, document), (total.lenient, lenient),
                             (total.strict, strict)):
        assert (counts.found, counts.gold, counts.found_right, counts.gold_found) == expected


def test_lenient_counts_each_side_once():
    gold = [GoldDocument("a", (), (Mention((0, 5), "HP:1"), Mention((6, 10), "HP:1")))]
    found = {"a": [Mention((0, 10), "HP:1"), Mention((2, 3), "HP:1"), Mention((11, 12), "HP:1")]}
    lenient = score(gold, found).total.lenient
    assert (lenient.found_right, lenient.gold_found) == (2, 2)
    assert lenient.precision == pytest.approx(2 / 3) and lenient.recall == 1.0


def test_unplaced_hits_count_at_document_level_only():
    gold = [GoldDocument("a", (), (Mention((0, 5), "HP:1"),))]
    evaluation = score(gold, {"a": [Mention(None, "HP:1")]})
    assert evaluation.total.document.found_right == 1 and evaluation.total.strict.found == 0
    assert evaluation.unplaced == 1


CORPUS = [
    {"id": "n1", "text": "Ataxia and short stature.",
     "annotations": [{"start": 0, "end": 6, "hpo_id": "HP:0001251"},
                     {"start": 11, "end": 24, "hpo_id": "HP:0004322"}]},
    {"id": "n2", "text": "Denies fever. Cough.",
     "annotations": [{"start": 14, "end": 19, "hpo_id": "HP:0012735"}]},
]


def write_corpus(tmp_path, lines):
    path = tmp_path / "gold.jsonl"
    path.write_text("".join(line if isinstance(line, str) else json.dumps(line) + "\n"
                            for line in lines), encoding="utf-8")
    return str(path)


def test_evaluate_command(capsys, small_release, tmp_path):
    gold = write_corpus(tmp_path, CORPUS)
    assert main(["evaluate", "--hpo", small_release, "--gold", gold, "--json",
                 "--per-document"]) == 0
    result = json.loads(capsys.readouterr().out)
    assert (result["release"], result["documents"]) == ("2025-01-01", 2)
    assert result["strict"]["precision"] == 1.0 and result["strict"]["recall"] == 1.0
    assert result["per_document"]["n2"]["document"]["found"] == 1  # the negated fever dropped
    assert main(["evaluate", "--hpo", small_release, "--gold", gold, "--keep-excluded"]) == 0
    table = capsys.readouterr().out.splitlines()
    assert table[0] == "HPO release 2025-01-01, map_text, 2 documents, negated hits kept"
    assert table[2].split() == ["total", "document", "0.750", "1.000", "0.857", "4", "3"]


@pytest.mark.parametrize("lines, message", [
    (None, "cannot read {gold}: No such file or directory"),
    ([CORPUS[0], "{oops\n"], "{gold}:2: not JSON"),
    ([CORPUS[0], "\n", {"id": "x", "annotations": []}], '{gold}:3: no "text"'),
    ([{"id": "x", "text": "ab", "annotations": [{"start": 1, "end": 5, "hpo_id": "HP:1"}]}],
     "{gold}:1: annotation HP:1: start and end must be offsets"),
    ([{"id": "x", "text": "ab", "annotations": [{"start": 0, "end": 1}]}],
     '{gold}:1: an annotation without "hpo_id"'),
    ([CORPUS[0], CORPUS[0]], "{gold}:2: document id 'n1' repeated"),
    (["\n"], "{gold}: no gold documents"),
    ([b"\xff\n"], "{gold}: not UTF-8 text"),
    ([b'{"id": "x", "text": "ab", "annotations": [{"start": 0, "end": ' + b"9" * 5000 + b"}]}\n"],
     "{gold}:1: Exceeds the limit (4300 digits)"),
    ([b"[" * 100_000 + b"]" * 100_000 + b"\n"], "{gold}:1: nested too deeply"),
    ([b'{"id": "x", "text": "ataxia \\ud800", "annotations": []}\n'],
     "{gold}:1: not text (lone surrogate '\\ud800')"),
])
def test_bad_gold(capsys, small_release, tmp_path, lines, message):
    gold = str(tmp_path / "gold.jsonl")
    if lines is not None and isinstance(lines[0], bytes):
        (tmp_path / "gold.jsonl").write_bytes(lines[0])
    elif lines is not None:
        gold = write_corpus(tmp_path, lines)
    assert main(["evaluate", "--hpo", small_release, "--gold", gold]) == 3
    err = capsys.readouterr().err
    assert err.startswith("corvanta: error: " + message.format(gold=gold)) and err.count("\n") == 1


def test_unknown_gold_id_is_a_warning(capsys, small_release, tmp_path):
    unknown = {"id": "n3", "text": "x", "annotations": [{"start": 0, "end": 1,
                                                         "hpo_id": "HP:9999999"}]}
    gold = write_corpus(tmp_path, [*CORPUS, unknown])
    assert main(["evaluate", "--hpo", small_release, "--gold", gold]) == 0
    assert capsys.readouterr().err == (
        f"corvanta: warning: {gold}:3: HP:9999999 is not an id of the release\n")


TITLE, ABSTRACT = "Ataxia in a boy", "Denies fever. Cough."
PUBTATOR = (f"1|t|{TITLE}\n1|a|{ABSTRACT}\n"
            "1\t0\t6\tAtaxia\tPhenotype\tHP:0001251\n"
            "1\t23\t28\tfever\tChemical\tMESH:D005334\n"  # not an HP id: not gold
            "1\t30\t35\tCough\tDisease\tHP_0012735\n\n")
BIOC = f"""<?xml version="1.0" encoding="UTF-8"?>
<collection><source>test</source><date>2025</date><key>k</key>
<document><id>1</id>
<passage><offset>0</offset><text>{TITLE}</text>
<annotation id="a1"><infon key="identifier">HP:0001251</infon>
<location offset="0" length="6"/><text>Ataxia</text></annotation></passage>
<passage><offset>16</offset><text>{ABSTRACT}</text>
<annotation id="a2"><infon key="hpo_id">HP:0012735</infon>
<location offset="30" length="5"/><text>Cough</text></annotation></passage>
</document></collection>
"""


@pytest.mark.parametrize("name, content, format", [
    ("gold.pubtator", PUBTATOR, None), ("gold.txt", PUBTATOR, "pubtator"),
    ("gold.xml", BIOC, None),
])
def test_bioc_and_pubtator_gold(capsys, small_release, tmp_path, name, content, format):
    require("bioc", reason="BioC and PubTator gold need the formats extra")
    gold = tmp_path / name
    gold.write_text(content, encoding="utf-8")
    argv = ["evaluate", "--hpo", small_release, "--gold", str(gold), "--json"]
    assert main(argv + (["--gold-format", format] if format else [])) == 0
    result = json.loads(capsys.readouterr().out)
    assert result["documents"] == 1
    assert (result["strict"]["gold"], result["strict"]["found_right"], result["strict"]["found"]) == (
        2, 2, 2)

