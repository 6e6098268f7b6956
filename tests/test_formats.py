"""Phenopacket, BioC, PubTator and brat: written by us and read back with the
format's own library (or, for brat's normalisations, checked against the
text), read in and written back; bad inputs, --keep-going and atomic output."""
import io
import json
import os
import re

import pytest

from conftest import REAL_RELEASE, require, run
from corvanta_tools.formats import STREAM_FORMATS, render
from corvanta_tools.formats.lines import json_line, write_jsonl
from corvanta_tools.records import Document, Record, annotate

phenopackets = require("phenopackets", reason="the formats extra (phenopackets) is not installed")
bioc = require("bioc", reason="the formats extra (bioc) is not installed")
from bioc import biocjson, biocxml, pubtator  # noqa: E402
from bioc.brat import loads as brat_loads  # noqa: E402
from google.protobuf import json_format  # noqa: E402

# Headache negated twice, fever present once and negated once, seizures and
# ataxia present; an astral character and U+0130 shift the byte offsets.
NOTE = ("Follow-up of \U0001d4d0 \u0130rem: recurrent seizures. Denies headache.\n"
        "Fever last week; no evidence of fever today.\tAtaxia noted. Without headache.")


@pytest.fixture(scope="module")
def hpo():
    return str(REAL_RELEASE)


@pytest.fixture
def note(tmp_path):
    path = tmp_path / "note.txt"
    path.write_text(NOTE, encoding="utf-8")
    return path


def term_ids(records):
    return {r.term_id for r in records}


def test_phenopacket_features_and_metadata(capsys, hpo, note, tmp_path):
    code, out, _ = run(capsys, "annotate", "--hpo", hpo, "--format", "phenopacket", str(note))
    assert code == 0
    (line,) = out.splitlines()
    packet = json_format.Parse(line, phenopackets.Phenopacket())
    assert packet.id == packet.subject.id == str(note)
    features = [(f.type.id, f.type.label, f.excluded) for f in packet.phenotypic_features]
    assert features == [("HP:0001250", "Seizure", False), ("HP:0001945", "Fever", False),
                        ("HP:0001251", "Ataxia", False), ("HP:0002315", "Headache", True)]
    fever = packet.phenotypic_features[1].description
    start = NOTE.index("Fever")
    assert f'"Fever" at characters {start}-{start + 5};' in fever and fever.endswith("(excluded)")
    meta = packet.meta_data
    assert (meta.phenopacket_schema_version, meta.created_by.split()[0]) == ("2.0", "corvanta")
    assert meta.created.seconds > 0
    (resource,) = meta.resources
    assert (resource.id, resource.namespace_prefix, resource.version) == ("hp", "HP", "2025-05-06")

    code, _, _ = run(capsys, "annotate", "--hpo", hpo, "--format", "phenopacket", "--subject",
                     "patient-7", "-o", str(tmp_path / "packets") + "/", str(note))
    written = json_format.Parse((tmp_path / "packets" / "note.json").read_text(),
                                phenopackets.Phenopacket())
    assert code == 0 and written.subject.id == "patient-7" and written.id == str(note)
    assert len(written.phenotypic_features) == 4


def located(passage_or_text, offset, annotation):
    (location,) = annotation.locations
    return passage_or_text[location.offset - offset:location.offset - offset + location.length]


@pytest.mark.parametrize("name, load", [("bioc-xml", biocxml.loads), ("bioc-json", biocjson.loads)])
def test_bioc_written_and_read_back(capsys, hpo, note, name, load):
    code, out, _ = run(capsys, "annotate", "--hpo", hpo, "--format", name, str(note))
    collection = load(out)
    (document,) = collection.documents
    (passage,) = document.passages
    assert code == 0 and document.id == str(note) and passage.text == NOTE
    annotations = passage.annotations
    assert [located(NOTE, 0, a) for a in annotations] == [a.text for a in annotations]
    assert [a.infons["identifier"] for a in annotations] == [
        "HP:0001250", "HP:0002315", "HP:0001945", "HP:0001945", "HP:0001251", "HP:0002315"]
    assert [a.infons["excluded"] for a in annotations] == ["false", "true", "false", "true",
                                                           "false", "true"]
    assert annotations[0].infons == {"type": "Phenotype", "identifier": "HP:0001250",
                                     "term_label": "Seizure", "label": "Seizures",
                                     "excluded": "false", "negated": "false", "uncertain": "false",
                                     "historical": "false", "hypothetical": "false",
                                     "family": "false", "modifiers": "[]"}
    assert len({a.id for a in annotations}) == len(annotations)


def bioc_collection():
    collection = bioc.BioCCollection()
    collection.source, collection.date, collection.key = "PubMed", "2024-01-02", "pubmed.key"
    collection.infons["corpus"] = "test"
    document = bioc.BioCDocument()
    document.id = "123"
    for offset, text in [(0, "Recurrent seizures"), (40, "Denies headache. Ataxia."), (90, "")]:
        passage = bioc.BioCPassage()
        passage.offset, passage.text = offset, text
        document.add_passage(passage)
    theirs = bioc.BioCAnnotation()
    theirs.id, theirs.text, theirs.infons = "T1", "seizures", {"type": "Disease"}
    theirs.add_location(bioc.BioCLocation(10, 8))
    document.passages[0].add_annotation(theirs)
    relation = bioc.BioCRelation()
    relation.id = "R1"
    relation.add_node(bioc.BioCNode("T1", "subject"))
    document.add_relation(relation)
    collection.add_document(document)
    empty = bioc.BioCDocument()
    empty.id = "no-text"
    collection.add_document(empty)
    return collection


@pytest.mark.parametrize("name, dumps, loads, suffix", [
    ("bioc-xml", biocxml.dumps, biocxml.loads, "xml"),
    ("bioc-json", biocjson.dumps, biocjson.loads, "json"),
])
def test_bioc_input_keeps_the_collection(capsys, hpo, tmp_path, name, dumps, loads, suffix):
    path = tmp_path / f"in.{suffix}"
    path.write_text(dumps(bioc_collection()), encoding="utf-8")
    code, out, _ = run(capsys, "annotate", "--hpo", hpo, "--input-format", name, "--format", name,
                       str(path))
    collection = loads(out)
    assert code == 0 and (collection.source, collection.key, collection.infons) == (
        "PubMed", "pubmed.key", {"corpus": "test"})
    document, empty = collection.documents
    first, second, _ = document.passages
    assert [a.id for a in first.annotations] == ["T1", "T2"]  # theirs kept, ours numbered past it
    assert first.annotations[0].infons == {"type": "Disease"} and document.relations[0].id == "R1"
    ours = [a for p in document.passages for a in p.annotations if a.infons["type"] == "Phenotype"]
    assert [(a.infons["identifier"], a.infons["excluded"]) for a in ours] == [
        ("HP:0001250", "false"), ("HP:0002315", "true"), ("HP:0001251", "false")]
    assert [located(p.text, p.offset, a) for p in (first, second, second) for a in p.annotations
            if a.infons["type"] == "Phenotype"][:1] == ["seizures"]
    assert [located(second.text, 40, a) for a in second.annotations] == ["headache", "Ataxia"]
    assert empty.passages == [] and empty.id == "no-text"

    code, out, _ = run(capsys, "annotate", "--hpo", hpo, "--input-format", name, "--format", "jsonl",
                       str(path))
    records = [json.loads(line) for line in out.splitlines()]
    # Text records count characters of the passages laid out at their offsets.
    assert [(r["document"], r["char_span"], r["text"]) for r in records] == [
        ("123", [10, 18], "seizures"), ("123", [47, 55], "headache"), ("123", [57, 63], "Ataxia")]


def test_pubtator_written_and_read_back(capsys, hpo, note, tmp_path):
    code, out, _ = run(capsys, "annotate", "--hpo", hpo, "--format", "pubtator", str(note))
    (document,) = pubtator.loads(out)
    pubtator.validate(document)  # every annotation's text at its offsets
    assert code == 0 and document.title == NOTE.split("\n")[0]
    assert document.abstract == NOTE.split("\n")[1].replace("\t", " ")
    assert [(a.type, a.id) for a in document.annotations] == [
        ("Phenotype", "HP:0001250"), ("ExcludedPhenotype", "HP:0002315"), ("Phenotype", "HP:0001945"),
        ("ExcludedPhenotype", "HP:0001945"), ("Phenotype", "HP:0001251"),
        ("ExcludedPhenotype", "HP:0002315")]
    # The seventh column: the categories the assertion sets.
    assert [a.others for a in document.annotations] == [
        ["none"], ["negated"], ["none"], ["negated"], ["none"], ["negated"]]

    source = tmp_path / "in.pubtator"
    source.write_text("42|t|Seizures in twins\n42|a|Both denied headache.\n"
                      "42\t0\t8\tSeizures\tDisease\tD012640\n\n", encoding="utf-8")
    code, out, _ = run(capsys, "annotate", "--hpo", hpo, "--input-format", "pubtator", "--format",
                       "pubtator", str(source))
    (document,) = pubtator.loads(out)
    pubtator.validate(document)
    assert code == 0 and [(a.start, a.end, a.type, a.id) for a in document.annotations] == [
        (0, 8, "Disease", "D012640"), (0, 8, "Phenotype", "HP:0001250"),
        (30, 38, "ExcludedPhenotype", "HP:0002315")]


def test_brat_written_and_read_back(capsys, hpo, note, tmp_path):
    out_dir = tmp_path / "brat"
    code, _, _ = run(capsys, "annotate", "--hpo", hpo, "--format", "brat", "-o", str(out_dir),
                     str(note))
    assert code == 0 and "Negated Arg:Phenotype" in (out_dir / "annotation.conf").read_text()
    with open(out_dir / "note.txt", encoding="utf-8", newline="") as f:
        text = f.read()
    ann = (out_dir / "note.ann").read_text(encoding="utf-8")
    assert text == NOTE
    document = brat_loads(text, ann)
    entities = {e.id: e for e in document.entities}
    for entity in entities.values():
        assert entity.type == "Phenotype"
        assert entity.text == " ".join(text[loc.begin:loc.end] for loc in sorted(entity.locations))
    negated = {a.refid for a in document.attributes if a.type == "Negated"}
    assert [entities[t].text for t in sorted(negated)] == ["headache", "fever", "headache"]
    normalised = re.findall(r"^N\d+\tReference (T\d+) (HP:\d{7})\t(.+)$", ann, re.M)
    assert [(entities[t].text, term, label) for t, term, label in normalised][:2] == [
        ("seizures", "HP:0001250", "Seizure"), ("headache", "HP:0002315", "Headache")]
    assert len(normalised) == len(entities) == 6

    # Read back: the .txt files of the directory, named by their stems.
    code, out, _ = run(capsys, "annotate", "--hpo", hpo, "--input-format", "brat", "--format",
                       "jsonl", str(out_dir))
    assert code == 0 and {json.loads(line)["document"] for line in out.splitlines()} == {"note"}


def test_brat_splits_spans_at_line_breaks(small_release, tmp_path, capsys):
    note = tmp_path / "n.txt"
    note.write_text("short\nstature", encoding="utf-8")
    code, _, _ = run(capsys, "annotate", "--hpo", small_release, "--format", "brat", "-o",
                     str(tmp_path / "b"), str(note))
    ann = (tmp_path / "b" / "n.ann").read_text()
    assert code == 0 and ann.splitlines()[0] == "T1\tPhenotype 0 5;6 13\tshort stature"


BIOC_JSON = ('{{"source": "", "date": "", "key": "", "infons": {infons}, "documents": [{{"id": "1", '
             '"infons": {{}}, "relations": [], "passages": [{{"offset": 0, "text": "Ataxia", '
             '"infons": {{}}, "sentences": [], "relations": [], "annotations": []}}, {{"offset": '
             '{offset}, "text": {text}, "infons": {{}}, "sentences": [], "relations": [], '
             '"annotations": [{{"id": "a", "infons": {{"identifier": "HP:0001251"}}, "text": "x", '
             '"locations": [{{"offset": 0, "length": {length}}}]}}]}}]}}]}}')
BIOC_XML = ("<collection><source/><date/><key/><document><id>1</id><passage><offset>0</offset>"
            "<text>Ataxia</text></passage>\n<passage><offset>{offset}</offset><text>{text}</text>"
            '<annotation id="a"><infon key="identifier">HP:0001251</infon>'
            '<location offset="7" length="{length}"/><text>x</text></annotation>'
            "</passage></document></collection>")


def bioc_json(offset="7", text='"fever"', infons="{}", length="1"):
    return BIOC_JSON.format(offset=offset, text=text, infons=infons, length=length)


def bioc_xml(offset="7", text="fever", length="1"):
    return BIOC_XML.format(offset=offset, text=text, length=length)


@pytest.mark.parametrize("input_format, content, position", [
    ("bioc-xml", "<collection><document>\n<id>1</passage></collection>", "line 2, column"),
    ("bioc-xml", "<collection><document><id>1</id><passage>\n<offset>x</offset></passage>"
                 "</document></collection>", "line 2: <offset> needs an integer"),
    ("bioc-xml", "<notbioc/>", "line 1: not a BioC collection"),
    *[("bioc-xml", bioc_xml(offset=offset), "line 2: <offset> needs an integer from 0 to 2147483647")
      for offset in ("5e9", "9" * 23, "-1", "1.5", "9" * 5000)],
    ("bioc-xml", bioc_xml(length="-2"), "line 2: <location> needs an integer"),
    ("bioc-xml", bioc_xml(offset="1000000000"), "document 1 ('1'): passage offsets leave"),
    ("bioc-xml", '<!DOCTYPE collection [<!ENTITY e "x">]>\n' + bioc_xml(text="a &e;"),
     "line 3: entity reference &e; is not supported"),
    ("bioc-xml", '<!DOCTYPE collection SYSTEM "BioC.dtd">\n' + bioc_xml(text="a &undefined;"),
     "line 3: entity reference &undefined; is not supported"),
    ("bioc-json", '{"documents": [\n{"id": "1", ', "line 2, column"),
    ("bioc-json", '{"source": "", "date": "", "key": "", "infons": {}, "documents": '
                  '[{"id": "1", "infons": {}, "relations": [], "annotations": []}]}',
     "document 1: not a BioC document"),
    *[("bioc-json", bioc_json(offset=offset), "document 1: not a BioC document: Expected `int`")
      for offset in ("1e309", "5e9", "1.5", "true", "-3", '"7"', "99999999999999999999999")],
    ("bioc-json", bioc_json(offset="9" * 5000), "a number: Exceeds the limit"),
    ("bioc-json", bioc_json(offset="1000000000"), "document 1 ('1'): passage offsets leave"),
    ("bioc-json", bioc_json(length="-1"), "document 1: not a BioC document: Expected `int` >= 0"),
    ("bioc-json", bioc_json(text="5"), "document 1: not a BioC document: Expected `str | null`"),
    ("bioc-json", bioc_json(text='"fever \\ud800"'), "a string: not text (lone surrogate '\\ud800')"),
    ("bioc-json", bioc_json(infons='"zzz"'), "top level: not a BioC collection: Expected `object`"),
    ("bioc-json", "[" * 100_000 + "]" * 100_000, "top level: nested too deeply"),
    ("pubtator", "1|t|Title\n1\tzero\t4\tTitl\tX\tY\n", "line 2: annotation offsets"),
    ("pubtator", "1|t|Title\ngarbage\n", "line 2: neither"),
    ("pubtator", "1|t|Seizures\n2|a|Ataxia\n", "line 2: document id '2' inside document '1'"),
    ("pubtator", "1|t|Seizures\n1|a|x\n\n1|a|y\n", "line 4: document '1' has no title line"),
    ("pubtator", "1|t|Seizures\n1|a|x\n2\t0\t3\tSei\tX\tY\n", "line 3: document id '2' inside"),
    ("pubtator", "|t|Seizures\n|a|x\n", "line 1: no document id"),
    ("pubtator", "1|t|Seizures\n1|a|x\n1|a|y\n", "line 3: a second abstract line"),
    ("pubtator", "1|t|Seizures\n1\t5\t3\tSei\tX\tY\n", "line 2: annotation from 5 to 3"),
    ("pubtator", f"1|t|Seizures\n1\t0\t{'9' * 5000}\tSei\tX\tY\n", "line 2: annotation offsets"),
])
def test_bad_inputs_name_file_and_position(capsys, small_release, tmp_path, input_format,
                                           content, position):
    bad = tmp_path / "bad.in"
    bad.write_text(content, encoding="utf-8")
    code, out, err = run(capsys, "annotate", "--hpo", small_release, "--input-format",
                         input_format, str(bad))
    assert code == 3 and "HP:" not in out
    (line,) = err.splitlines()
    assert line.startswith(f"corvanta: error: cannot read {bad}: {position}"), line
    code, _, err = run(capsys, "evaluate", "--hpo", small_release, "--gold", str(bad),
                       "--gold-format", input_format)
    (line,) = err.splitlines()
    assert code == 3 and line.startswith(f"corvanta: error: {bad}: {position}"), line


@pytest.mark.parametrize("content, documents", [
    ("1|t|Seizures\n1|a|x\n2|t|Ataxia\n2|a|y\n", [("1", "Seizures x"), ("2", "Ataxia y")]),
    ("1|t|Seizures\u2028ataxia\x85\v\f.\r\n1|a|fever\n\n2|t|Tremor\n",
     [("1", "Seizures\u2028ataxia\x85\v\f. fever"), ("2", "Tremor")]),
    ("1|t|A |t| b\n\n\n", [("1", "A |t| b")]),
])
def test_pubtator_documents_end_at_titles_and_blank_lines(capsys, small_release, tmp_path, content,
                                                           documents):
    path = tmp_path / "in.pubtator"
    path.write_text(content, encoding="utf-8", newline="")
    code, out, err = run(capsys, "annotate", "--hpo", small_release, "--input-format", "pubtator",
                         "--format", "pubtator", str(path))
    assert code == 0, err
    read = pubtator.loads(out)
    assert [(d.pmid, " ".join(filter(None, (d.title, d.abstract)))) for d in read] == [
        (p, t.translate(FLAT)) for p, t in documents]


FLAT = str.maketrans("\u2028\x85\v\f", "    ")


@pytest.mark.parametrize("input_format, content, start", [
    ("pubtator", "1|t|Caf\u00e9: ataxia\n", 6),
    ("bioc-json", bioc_json(text='"\u00e9 ataxia"').replace('"Ataxia"', '"Caf\u00e9:"'), 9),
    ("bioc-xml", bioc_xml(text="\u00e9 ataxia").replace(">Ataxia<", ">Caf\u00e9:<"), 9),
    ("brat", "Caf\u00e9: ataxia", 6),
])
def test_encoding_is_that_of_every_input_format(capsys, small_release, tmp_path, input_format,
                                                content, start):
    path = tmp_path / "in.txt"
    path.write_bytes(content.encode("latin-1"))
    argv = ["annotate", "--hpo", small_release, "--input-format", input_format, "--format", "jsonl"]
    code, out, err = run(capsys, *argv, str(path if input_format != "brat" else tmp_path))
    assert code == 3, err
    code, out, err = run(capsys, *argv, "--encoding", "latin-1", str(path))
    assert code == 0, err
    assert [(r["text"], r["char_span"]) for r in map(json.loads, out.splitlines())] == [
        ("ataxia", [start, start + 6])]


def test_a_brat_directory_keeps_its_links_inside(capsys, small_release, tmp_path):
    outside, inside = tmp_path / "outside.txt", tmp_path / "brat"
    outside.write_text("Fever.")
    inside.mkdir()
    (inside / "a.txt").write_text("Ataxia.")
    (inside / "b.txt").symlink_to(inside / "a.txt")
    (inside / "c.txt").symlink_to(outside)
    code, out, err = run(capsys, "annotate", "--hpo", small_release, "--input-format", "brat",
                         str(inside))
    assert code == 0 and err.splitlines()[0] == (
        f"corvanta: warning: skipping {inside / 'c.txt'}: a link to a file outside {inside}")
    assert [line.split("\t")[:2] for line in out.splitlines()[1:]] == [
        ["a", "HP:0001251"], ["b", "HP:0001251"]]


def test_keep_going_skips_and_exits_3(capsys, small_release, tmp_path):
    good, bad, other = tmp_path / "a.txt", tmp_path / "b.txt", tmp_path / "c.txt"
    good.write_text("Ataxia.")
    bad.write_bytes(b"\xff\xfe fever")
    other.write_text("Fever.")
    output = tmp_path / "out.tsv"
    code, _, err = run(capsys, "annotate", "--hpo", small_release, "--keep-going", "-o",
                       str(output), str(good), str(bad), str(tmp_path / "missing.txt"), str(other))
    assert code == 3 and [line.split("\t")[1] for line in output.read_text().splitlines()[1:]] == [
        "HP:0001251", "HP:0001945"]
    assert err.splitlines() == [
        f"corvanta: error: cannot read {tmp_path / 'missing.txt'}: no such file or directory (skipped)",
        f"corvanta: error: cannot read {bad}: not utf-8 text (invalid start byte at byte 0); see "
        "--encoding (skipped)",
        "corvanta: 2 inputs skipped"]

    # Without it the run stops, and the previous output stays as it was.
    before = output.read_text()
    code, _, err = run(capsys, "annotate", "--hpo", small_release, "-o", str(output), str(good),
                       str(bad))
    assert code == 3 and output.read_text() == before
    assert sorted(os.listdir(tmp_path)) == ["a.txt", "b.txt", "c.txt", "out.tsv"]


def test_failed_directory_run_keeps_earlier_files(capsys, small_release, tmp_path):
    good, bad = tmp_path / "a.txt", tmp_path / "b.txt"
    good.write_text("Ataxia.")
    out_dir = tmp_path / "brat"
    assert run(capsys, "annotate", "--hpo", small_release, "--format", "brat", "-o", str(out_dir),
               str(good))[0] == 0
    ann = (out_dir / "a.ann").read_text()
    good.write_text("Fever.")
    bad.write_bytes(b"\xff")
    code, _, _ = run(capsys, "annotate", "--hpo", small_release, "--format", "brat", "-o",
                     str(out_dir), str(good), str(bad))
    assert code == 3 and not any(name.endswith(".part") for name in os.listdir(out_dir))
    assert "Fever" in (out_dir / "a.ann").read_text() != ann  # finished files are complete


@pytest.mark.parametrize("fmt, suffixes", [("brat", {".txt", ".ann"}), ("phenopacket", {".json"})])
def test_long_document_ids_get_file_names_that_fit(capsys, small_release, tmp_path, fmt, suffixes):
    ids = ["a" * 240, "b" * 251, "c" * 300 + "1", "c" * 300 + "2"]
    source = tmp_path / "in.pubtator"
    source.write_text("".join(f"{i}|t|Ataxia\n\n" for i in ids))
    out_dir = tmp_path / "out"
    code, _, err = run(capsys, "annotate", "--hpo", small_release, "--input-format", "pubtator",
                       "--format", fmt, "-o", f"{out_dir}/", str(source))
    assert code == 0, err
    names = [n for n in os.listdir(out_dir) if not n.endswith(".conf")]
    assert len(names) == len(ids) * len(suffixes) and max(map(len, names)) <= 255 - 15
    assert {os.path.splitext(n)[1] for n in names} == suffixes
    long_output = tmp_path / ("d" * 250)
    code, _, err = run(capsys, "annotate", "--hpo", small_release, "--input-format", "pubtator",
                       "-o", str(long_output), str(source))
    assert code == 0 and long_output.read_text().count("HP:0001251") == len(ids), err


def test_directory_formats_need_a_directory(capsys, small_release, note):
    code, _, err = run(capsys, "annotate", "--hpo", small_release, "--format", "brat", str(note))
    assert code == 2 and "give -o DIR" in err


def test_documents_without_text_give_no_hits(capsys, small_release, tmp_path):
    empty = tmp_path / "empty.txt"
    empty.write_text("")
    for name in STREAM_FORMATS:
        code, out, _ = run(capsys, "annotate", "--hpo", small_release, "--format", name, str(empty))
        assert code == 0 and "HP:" not in out.replace("HP:%s", "").replace('"HP"', ""), name


@pytest.mark.parametrize("text", ["plain", "tab\there", "quote \" back\\slash", "line\u2028sep",
                                  "\x85next \x00nul", "\U0001f600 emoji"])
def test_json_lines_fast_path_equals_the_dict(text):
    record = Record(text, "HP:1", text, None if "e" in text else text, None, (0, 1), True, text)
    out = io.StringIO()
    write_jsonl(out, "v", [Document("d", "", [record])])
    assert out.getvalue() == json_line(record.as_json()) + "\n"
    assert json.loads(out.getvalue()) == record.as_json()


def test_render_gives_each_stream_format(small):
    class Release:
        version = "2025-01-01"

    documents = [annotate(small, "n1", "Ataxia, no fever.")]
    for name in STREAM_FORMATS:
        assert "HP:0001251" in render(name, documents, Release()), name
    with pytest.raises(ValueError, match="not a stream format"):
        render("brat", documents, Release())


def test_output_keeps_permissions_and_devices(capsys, small_release, note, tmp_path):
    output = tmp_path / "out.tsv"
    output.write_text("earlier")
    output.chmod(0o600)
    assert run(capsys, "annotate", "--hpo", small_release, "-o", str(output), str(note))[0] == 0
    assert output.stat().st_mode & 0o777 == 0o600 and "HP:" in output.read_text()
    # A device is written to, never replaced.
    assert run(capsys, "annotate", "--hpo", small_release, "-o", os.devnull, str(note))[0] == 0
    assert not os.path.isfile(os.devnull)
