"""Release metadata: labels, alternative and obsolete ids, the version."""
import gzip
import json

import pytest

import corvanta
from conftest import OBO, REAL_RELEASE, hp, node, release, write_json
from corvanta_tools.releases import Release, ReleaseError

ALT = "http://www.geneontology.org/formats/oboInOwl#hasAlternativeId"
REPLACED_BY = OBO + "IAO_0100001"


def term(local, label, alt_ids=(), deprecated=False, replaced_by=None):
    n = node(local, label, deprecated=deprecated)
    values = [{"pred": ALT, "val": a} for a in alt_ids]
    if replaced_by is not None:
        values.append({"pred": REPLACED_BY, "val": replaced_by})
    if values:
        n.setdefault("meta", {})["basicPropertyValues"] = values
    return n


NODES = [
    term("0000001", "All"),
    term("0000002", "Current", alt_ids=["HP:0000010", "HP_0000011"]),
    term("0000003", "obsolete Old", deprecated=True, replaced_by="HP:0000004"),
    # a chain: 3 -> 4 -> 2 (4 is obsolete too, its replacement an IRI)
    term("0000004", "obsolete Older", deprecated=True, replaced_by=OBO + "HP_0000002"),
    term("0000005", "obsolete Gone", deprecated=True),
    # a cycle of replacements
    term("0000006", "obsolete A", deprecated=True, replaced_by="HP:0000007"),
    term("0000007", "obsolete B", deprecated=True, replaced_by="HP:0000006"),
    # an alternative id of a term that was made obsolete in favour of another
    term("0000008", "obsolete C", alt_ids=["HP:0000012"], deprecated=True,
         replaced_by="HP:0000002"),
    {"id": hp("0000009")},  # no label: not a term
    {"id": OBO + "MONDO_0000001", "lbl": "not HP"},
]


@pytest.fixture(scope="module")
def small_meta(tmp_path_factory):
    return Release(write_json(tmp_path_factory.mktemp("meta") / "hp.json", release(NODES, [])))


@pytest.mark.parametrize("term_id, primary", [
    ("HP:0000002", "HP:0000002"),
    ("HP:0000010", "HP:0000002"),
    ("HP:0000011", "HP:0000002"),  # written with an underscore in the file
    ("HP:0000003", "HP:0000002"),  # followed through an obsolete replacement
    ("HP:0000012", "HP:0000002"),
    ("HP:0000005", "HP:0000005"),  # obsolete without replacement stays
    ("HP:0000006", "HP:0000006"),  # cycles end where they started
    ("HP:0000007", "HP:0000007"),
    ("HP:0000009", "HP:0000009"),
    ("HP:9999999", "HP:9999999"),
    ("MONDO:0000001", "MONDO:0000001"),
])
def test_primary_id(small_meta, term_id, primary):
    assert small_meta.primary_id(term_id) == primary


def test_terms_labels_and_obsolete_flags(small_meta):
    assert small_meta.version == "2025-01-01"
    assert small_meta.term_count == 2  # current HP terms only
    assert small_meta.label("HP:0000002") == "Current"
    assert small_meta.label("HP:0000003") == "obsolete Old"
    assert [small_meta.label(t) for t in ("HP:0000010", "HP:0000009", "MONDO:0000001")] == [
        None, None, None]
    assert small_meta.is_obsolete("HP:0000003") and small_meta.is_obsolete("HP:0000005")
    assert not small_meta.is_obsolete("HP:0000002") and not small_meta.is_obsolete("HP:0000010")
    assert small_meta.term("HP:0000002").alt_ids == ("HP:0000010", "HP:0000011")
    assert small_meta.term("HP:0000004").replaced_by == "HP:0000002"


@pytest.mark.parametrize("meta, version", [
    ({"basicPropertyValues": [{"pred": "x#versionInfo", "val": "v1"}],
      "version": f"{OBO}hp/releases/2020-01-01/hp.json"}, "v1"),
    ({"version": f"{OBO}hp/releases/2020-01-01/hp.json"}, "2020-01-01"),
    ({"version": f"{OBO}hp/releases//hp.json"}, ""),
    ({"version": f"{OBO}hp/releases/v2020/hp.json"}, None),
    ({}, None),
    (None, None),
])
def test_version_is_the_matchers(tmp_path, meta, version):
    document = release([node("0000118", "Phenotypic abnormality")], [], version=None)
    if meta is not None:
        document["graphs"][0]["meta"] = meta
    path = write_json(tmp_path / "hp.json", document)
    if version is None:
        with pytest.raises(ReleaseError, match="no version"):
            Release(path)
        with pytest.raises(BaseException, match="should have a version"):
            corvanta.Corvanta(path)
    else:
        assert Release(path).version == version == corvanta.Corvanta(path).version()


@pytest.mark.parametrize("content", [b"", b"{", b'{"graphs": []}', b'{"graphs": [{}]}',
                                     b"\x1f\x8b\x08broken", b'{"graphs": [{"nodes": 1}]}'])
def test_not_a_release(tmp_path, content):
    path = tmp_path / "hp.json"
    path.write_bytes(content)
    with pytest.raises(ReleaseError, match=str(path)):
        Release(path)


def test_missing_file_is_an_os_error(tmp_path):
    with pytest.raises(FileNotFoundError):
        Release(tmp_path / "absent.json")


def test_gzipped_release_reads_the_same(tmp_path):
    document = release(NODES, [])
    path = tmp_path / "hp.json.gz"
    path.write_bytes(gzip.compress(json.dumps(document).encode()))
    gz = Release(path)
    assert gz.path == str(path)
    assert (gz.version, gz.term_count, gz.primary_id("HP:0000003")) == (
        "2025-01-01", 2, "HP:0000002")


@pytest.fixture(scope="module")
def real_meta():
    return Release(REAL_RELEASE)


@pytest.mark.slow
@pytest.mark.parametrize("term_id, primary, obsolete", [
    ("HP:0001250", "HP:0001250", False),
    ("HP:0004715", "HP:0000003", False),  # an alternative id
    ("HP:0001425", "HP:0000005", True),   # an obsolete node that is also an alternative id
    ("HP:0000057", "HP:0008665", True),   # obsolete, replaced
    ("HP:0200135", "HP:0000256", True),
])
def test_real_release_ids(real_meta, term_id, primary, obsolete):
    assert real_meta.primary_id(term_id) == primary
    assert real_meta.is_obsolete(term_id) is obsolete
    assert not real_meta.is_obsolete(primary)
