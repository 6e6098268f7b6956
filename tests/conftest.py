"""Shared fixtures: small hand-written releases and the real one, the
release the package embeds. `SHARED` (beside the repository) holds only the
corpora and the older releases; the tests that need them skip without it."""
import importlib
import json
import os
import pathlib
import sys
import time

import pytest

import corvanta
from corvanta_tools import default_release_path, main

OBO = "http://purl.obolibrary.org/obo/"
SHARED = pathlib.Path(__file__).resolve().parents[1].parent / "shared"
REAL_RELEASE = pathlib.Path(default_release_path())
VERSION_INFO = "http://www.w3.org/2002/07/owl#versionInfo"
EXACT = "hasExactSynonym"


# Modules that need an extra, a browser, a JVM or a build of the package: left
# out by --quick (scripts/test.sh --quick), marked `extras` otherwise.
EXTRA_MODULES = frozenset({
    "test_assertion_formats", "test_cohort", "test_cohort_spark", "test_extras", "test_formats",
    "test_medspacy", "test_scale_dask", "test_scale_spark", "test_sdist", "test_serve",
    "test_serve_page", "test_spacy", "test_typing", "test_wheel",
})


def pytest_addoption(parser):
    parser.addoption("--quick", action="store_true",
                     help="the core and toolkit tests only: no extras, nothing marked slow")


def pytest_configure(config):
    if config.getoption("quick"):
        config.option.markexpr = " and ".join(filter(None, ["not slow", config.option.markexpr]))


def pytest_ignore_collect(collection_path, config):
    return config.getoption("quick") and collection_path.stem in EXTRA_MODULES or None


def pytest_collection_modifyitems(items):
    for item in items:
        if item.path.stem in EXTRA_MODULES:
            item.add_marker(pytest.mark.extras)


def hp(local):
    return f"{OBO}HP_{local}"


def node(local, label, synonyms=(), deprecated=False):
    """An HP class node; synonyms are texts (exact) or (pred, text) pairs."""
    meta = {}
    if synonyms:
        meta["synonyms"] = [
            {"pred": s[0], "val": s[1]} if isinstance(s, tuple) else {"pred": EXACT, "val": s}
            for s in synonyms
        ]
    if deprecated:
        meta["deprecated"] = True
    n = {"id": hp(local), "lbl": label, "type": "CLASS"}
    if meta:
        n["meta"] = meta
    return n


def is_a(child, parent):
    return {"sub": hp(child), "pred": "is_a", "obj": hp(parent)}


def release(nodes, edges, version="2025-01-01"):
    graph = {"id": f"{OBO}hp.json", "nodes": nodes, "edges": edges}
    if version is not None:
        graph["meta"] = {"basicPropertyValues": [{"pred": VERSION_INFO, "val": version}]}
    return {"graphs": [graph]}


def phenotypes(terms):
    """A release where every (local, label, synonyms) term hangs under the root."""
    nodes = [node("0000118", "Phenotypic abnormality")]
    edges = []
    for local, label, *rest in terms:
        nodes.append(node(local, label, rest[0] if rest else ()))
        edges.append(is_a(local, "0000118"))
    return release(nodes, edges)


# Terms chosen to exercise both stages, synonyms, modifiers and negation.
SMALL_TERMS = [
    ("0001250", "Seizure", ["Seizures", "Epileptic seizure"]),
    ("0001251", "Ataxia"),
    ("0004322", "Short stature", ["Small stature"]),
    ("0001627", "Abnormality of the heart", ["Cardiac abnormality"]),
    ("0002315", "Headache"),
    ("0001945", "Fever"),
    ("0012735", "Cough"),
    ("0001337", "Tremor"),
    ("0002072", "Chorea"),
    ("0000726", "Dementia"),
    ("0002019", "Constipation"),
    ("0012378", "Fatigue"),
    ("0001513", "Obesity"),
    ("0000707", "Abnormality of the nervous system"),
    ("0003128", "Lactic acidosis"),
    ("0001263", "Global developmental delay"),
    ("0000365", "Hearing impairment", ["Deafness"]),
    ("0001166", "Arachnodactyly"),
    ("0008897", "Postnatal growth retardation"),
    ("0012823", "Aura"),
    ("0001649", "Tachycardia"),
    ("0002086", "Abnormality of the respiratory system"),
    ("0004936", "Venous thrombosis"),
    ("0012638", "Abnormal nervous system physiology"),
    ("0001939", "Abnormality of metabolism/homeostasis"),
    ("0002664", "Neoplasm", ["Tumor"]),
    ("0100543", "Cognitive impairment"),
    ("0000708", "Atypical behavior"),
    ("0001297", "Stroke"),
    ("0003577", "Congenital onset"),
    ("0002080", "Intention tremor"),
    ("0001941", "Acidosis"),
]


def write_json(path, document):
    path.write_text(json.dumps(document), encoding="utf-8")
    return str(path)


@pytest.fixture(scope="session")
def small_release(tmp_path_factory):
    return write_json(tmp_path_factory.mktemp("release") / "hp.json", phenotypes(SMALL_TERMS))


@pytest.fixture(scope="session")
def small(small_release):
    return corvanta.Corvanta(small_release)


@pytest.fixture(scope="session")
def real():
    return corvanta.Corvanta(str(REAL_RELEASE))


def shared_or_skip(*parts):
    """A path under `SHARED`, or a skip that says which is missing."""
    path = SHARED.joinpath(*parts)
    if not path.exists():
        pytest.skip(f"{path} not found (the corpora and older releases live beside the repository)")
    return path


def require(module, reason):
    """The module, or a skip of the calling test module saying why: missing,
    or installed but failing to import (a half-installed extra)."""
    try:
        return importlib.import_module(module)
    except Exception as error:  # an extra's import can fail in any way
        pytest.skip(f"{reason} ({type(error).__name__}: {error})", allow_module_level=True)


@pytest.fixture(scope="session")
def spark():
    """One local Spark session, and so one JVM, for every module that asks;
    those modules skip themselves first where pyspark or Java is missing."""
    from pyspark.sql import SparkSession

    saved = os.environ.get("PYSPARK_PYTHON")
    os.environ["PYSPARK_PYTHON"] = sys.executable  # the workers run this interpreter
    session = (SparkSession.builder.master("local[2]").appName("corvanta-tests")
               .config("spark.ui.enabled", "false").config("spark.ui.showConsoleProgress", "false")
               .config("spark.sql.shuffle.partitions", "2").getOrCreate())
    session.sparkContext.setLogLevel("ERROR")
    yield session
    session.stop()
    if saved is None:
        del os.environ["PYSPARK_PYTHON"]
    else:
        os.environ["PYSPARK_PYTHON"] = saved


def run(capsys, *argv):
    """The command line run in this process: its exit code, stdout and stderr."""
    code = main(list(argv))
    out, err = capsys.readouterr()
    return code, out, err


def has_ended(pid):
    """Gone, or a zombie nobody has reaped yet (read from /proc)."""
    try:
        state = pathlib.Path(f"/proc/{pid}/stat").read_bytes().rpartition(b")")[2].split()[0]
    except FileNotFoundError:
        return True
    return state == b"Z"


def ends_within(pid, seconds=10):
    deadline = time.monotonic() + seconds
    while not has_ended(pid) and time.monotonic() < deadline:
        time.sleep(0.02)
    return has_ended(pid)
