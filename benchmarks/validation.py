"""Validation on GSC+ next to three peer recognisers, and throughput on the
MEDLINE abstracts, in one run.

    .venv/bin/python benchmarks/validation.py [--hpo hp.json] [--slow-subset N]

Every tool reads the same local release and nothing is downloaded at run
time: corvanta builds its matcher from it; OGER gets a term list of the
labels and synonyms of the phenotypic-abnormality subtree (HP:0000118)
written from it; OAK's text annotator reads it through its pronto adapter;
ClinPhen gets term names and synonyms rebuilt from it by the scripts of its
own --update (and runs once more with its bundled 2018 thesaurus). The peers
are installed into their own virtual environments under build/peers/
(created on the first run, from PyPI and Debian's WordNet packages) and run
in subprocesses under those environments' Python; corvanta runs in this
process.

All found mentions are scored by `corvanta_tools.evaluate.score` against the
same gold with the same release: ids mapped with `Release.primary_id`,
negated hits dropped (only corvanta flags them; ClinPhen leaves negated
mentions out itself), document level for every tool and mention level for
the tools that give spans. `corvanta evaluate` is run on the same gold as a
command, and its document-level figures are checked against this run's.

Throughput: annotation only (matcher, term list or index building is
reported apart as setup), wall clock and CPU time of the annotating
process, one pass. The fast tools read every abstract; OAK and ClinPhen the
first --slow-subset of them (default 300).
"""
from __future__ import annotations

import argparse
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

import corvanta
from corvanta_tools.evaluate import Evaluation, Mention, found_mentions, score
from corvanta_tools.gold import read_gold
from corvanta_tools.releases import Release
from corvanta_tools.version import package_version

ROOT = pathlib.Path(__file__).resolve().parents[1]
SHARED = ROOT.parent / "shared"
PEERS = ROOT / "build" / "peers"
NLTK_DATA = PEERS / "nltk_data"
PHENOTYPE_ROOT = "HP:0000118"
OBO = "http://purl.obolibrary.org/obo/"

# The 45 lexicographer files of WordNet 3.0, by number; NLTK's reader wants
# them in corpora/wordnet/lexnames, which Debian's packages do not ship.
LEXNAMES = (
    "adj.all adj.pert adv.all noun.Tops noun.act noun.animal noun.artifact noun.attribute "
    "noun.body noun.cognition noun.communication noun.event noun.feeling noun.food noun.group "
    "noun.location noun.motive noun.object noun.person noun.phenomenon noun.plant "
    "noun.possession noun.process noun.quantity noun.relation noun.shape noun.state "
    "noun.substance noun.time verb.body verb.change verb.cognition verb.communication "
    "verb.competition verb.consumption verb.contact verb.creation verb.emotion verb.motion "
    "verb.perception verb.possession verb.social verb.stative verb.weather adj.ppl").split()
SYNTACTIC_CATEGORIES = {"noun": 1, "verb": 2, "adj": 3, "adv": 4}
WORDNET_PACKAGES = ("wordnet-base", "wordnet-sense-index")

# Run inside each peer's environment: `annotator(task)` (from the peer's
# code below) returns a function from a text to [start, end, id] triples
# (start and end None when the peer gives no span); this reads the corpora,
# times the setup and each corpus, and writes the mentions found.
WORKER = '''
import json, sys, time

def main():
    task = json.load(open(sys.argv[1]))
    wall, cpu = time.perf_counter(), time.process_time()
    annotate = annotator(task)
    result = {"setup": [time.perf_counter() - wall, time.process_time() - cpu], "corpora": {}}
    for name, corpus in task["corpora"].items():
        with open(corpus["path"], encoding="utf-8") as file:
            docs = [json.loads(line) for line in file if line.strip()][:corpus["limit"]]
        found = {}
        wall, cpu = time.perf_counter(), time.process_time()
        for doc in docs:
            found[doc["id"]] = annotate(doc["text"])
        result["corpora"][name] = {
            "docs": len(docs), "wall": time.perf_counter() - wall,
            "cpu": time.process_time() - cpu, "found": found}
    with open(task["out"], "w") as file:
        json.dump(result, file)
'''

OGER = '''
import io
from oger.ctrl.router import Router, PipelineServer

def annotator(task):
    conf = Router(termlist_path=task["termlist"], termlist_normalize="lowercase",
                  termlist_cache=task["cache"])
    pipeline = PipelineServer(conf)

    def annotate(text):
        doc = pipeline.load_one(io.StringIO(text), "txt", id_="doc")
        pipeline.process(doc)
        return [[e.start, e.end, e.cid] for e in doc.iter_entities()]
    annotate("warm-up")  # the term list is read on the first document
    return annotate
'''

OAK = '''
from oaklib import get_adapter

def annotator(task):
    adapter = get_adapter("pronto:" + task["hpo"])
    list(adapter.annotate_text("index"))  # the index is built on the first call

    def annotate(text):
        # subject_start is 1-based, subject_end inclusive
        return [[a.subject_start - 1, a.subject_end, a.object_id]
                for a in adapter.annotate_text(text)]
    return annotate
'''

CLINPHEN = '''
import os
from clinphen_src import get_phenotypes, src_dir

def annotator(task):
    data = task["thesaurus"] or os.path.join(src_dir.get_src_dir(), "data")
    with open(os.path.join(data, "hpo_term_names.txt")) as file:
        names = dict(line.rstrip("\\n").split("\\t")[:2] for line in file)
    synonyms = os.path.join(data, "hpo_synonyms.txt")

    def annotate(text):
        table = get_phenotypes.extract_phenotypes(text, names, synonyms)
        return [[None, None, row.split("\\t")[0]] for row in table.split("\\n")[1:] if row]
    annotate("warm-up")
    return annotate
'''


def peer_env(name: str) -> dict[str, str]:
    env = dict(os.environ, PYTHONNOUSERSITE="1")
    env.pop("PYTHONPATH", None)
    if name == "clinphen":
        env["NLTK_DATA"] = str(NLTK_DATA)
    return env


def pip(venv: pathlib.Path, *args: str) -> None:
    subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "-q", *args],
                   check=True)


def make_venv(name: str) -> pathlib.Path:
    venv = PEERS / name
    if not (venv / "bin" / "python").exists():
        subprocess.run([sys.executable, "-m", "venv", "--clear", str(venv)], check=True)
    return venv


def install_wordnet() -> None:
    """NLTK's WordNet from Debian's packages, files copied (NLTK refuses
    symbolic links), plus the lexnames file they lack."""
    wordnet = NLTK_DATA / "corpora" / "wordnet"
    if (wordnet / "lexnames").exists():
        return
    debs = PEERS / "debs"
    debs.mkdir(parents=True, exist_ok=True)
    subprocess.run(["apt-get", "download", *WORDNET_PACKAGES], cwd=debs, check=True)
    unpacked = debs / "root"
    for deb in debs.glob("*.deb"):
        subprocess.run(["dpkg-deb", "-x", str(deb), str(unpacked)], check=True)
    wordnet.mkdir(parents=True, exist_ok=True)
    for source in (unpacked / "usr" / "share" / "wordnet").iterdir():
        if source.is_file():
            shutil.copyfile(source, wordnet / source.name)
    (wordnet / "lexnames").write_text("".join(
        f"{number:02d}\t{lexname}\t{SYNTACTIC_CATEGORIES[lexname.split('.')[0]]}\n"
        for number, lexname in enumerate(LEXNAMES)))


def install_peers() -> None:
    """Each peer in its own environment under build/peers/, once."""
    PEERS.mkdir(parents=True, exist_ok=True)
    checks = {"oger": "oger", "oaklib": "oaklib", "clinphen": "clinphen_src"}
    for name, module in checks.items():
        venv = make_venv(name)
        python = str(venv / "bin" / "python")
        if subprocess.run([python, "-c", f"import {module}"], capture_output=True,
                          env=peer_env(name)).returncode == 0:
            continue
        if name != "clinphen":
            pip(venv, name)
            continue
        # clinphen's setup.py imports nltk and fetches WordNet while
        # installing: install its dependencies first and build it without
        # isolation from the source archive.
        pip(venv, "nltk", "pandas", "six", "wheel", "setuptools")
        sdist = venv / "sdist"
        subprocess.run([python, "-m", "pip", "download", "-q", "--no-deps", "--no-binary",
                        ":all:", "-d", str(sdist), "clinphen"], check=True)
        pip(venv, "--no-build-isolation", str(next(sdist.glob("clinphen-*.tar.gz"))))
    install_wordnet()


def clinphen_thesaurus(hpo: pathlib.Path, version: str) -> pathlib.Path:
    """ClinPhen's term names and synonyms rebuilt from the local release by
    the scripts its --update runs, on an hp.obo that pronto (from OAK's
    environment) writes instead of the one --update downloads."""
    data = PEERS / "clinphen-thesaurus" / version
    if (data / "hpo_term_names.txt").exists():
        return data
    data.mkdir(parents=True, exist_ok=True)
    # pronto and these scripts write sets in iteration order: a fixed hash
    # seed makes the files the same on every build.
    oak_env, clinphen_env = (dict(peer_env(name), PYTHONHASHSEED="0")
                             for name in ("oaklib", "clinphen"))
    subprocess.run([str(PEERS / "oaklib" / "bin" / "python"), "-c",
                    "import pronto, sys\n"
                    "with open(sys.argv[2], 'wb') as file:\n"
                    "    pronto.Ontology(sys.argv[1]).dump(file, format='obo')",
                    str(hpo), str(data / "hp.obo")], check=True, env=oak_env)
    python = str(PEERS / "clinphen" / "bin" / "python")
    scripts = pathlib.Path(subprocess.run(
        [python, "-c", "from clinphen_src import src_dir; print(src_dir.get_src_dir())"],
        check=True, capture_output=True, text=True, env=clinphen_env).stdout.strip())

    def script(name: str, argument: pathlib.Path, output: str) -> None:
        with open(data / output, "w") as file:
            subprocess.run([python, str(scripts / name), str(argument)], check=True,
                           stdout=file, env=clinphen_env)

    script("hpo_syns.py", data / "hp.obo", "synonyms.raw")
    script("standardize_syn_map.py", data / "synonyms.raw", "hpo_synonyms.txt")
    script("hpo_names.py", data / "hp.obo", "hpo_term_names.txt")
    return data


def phenotype_terms(hpo: pathlib.Path) -> dict[str, tuple[str, list[str]]]:
    """Current terms under the phenotype root: id -> (label, synonyms)."""
    graph = json.loads(hpo.read_bytes())["graphs"][0]

    def curie(iri: str) -> str:
        return iri.removeprefix(OBO).replace("_", ":", 1)

    children: dict[str, list[str]] = {}
    for edge in graph["edges"]:
        if edge["pred"] == "is_a":
            children.setdefault(curie(edge["obj"]), []).append(curie(edge["sub"]))
    subtree, stack = set(), [PHENOTYPE_ROOT]
    while stack:
        term = stack.pop()
        if term not in subtree:
            subtree.add(term)
            stack.extend(children.get(term, ()))
    terms = {}
    for node in graph["nodes"]:
        term, meta = curie(node["id"]), node.get("meta", {})
        if term in subtree and node.get("lbl") and not meta.get("deprecated"):
            terms[term] = (node["lbl"], [s["val"] for s in meta.get("synonyms", ())])
    return terms


def write_termlist(terms: dict[str, tuple[str, list[str]]], path: pathlib.Path) -> int:
    """OGER's Bio Term Hub layout: CUI, resource, original id, term,
    preferred term, entity type; one row per label or synonym."""
    rows = [f"{term}\tHPO\t{term}\t{surface}\t{label}\tphenotype\n"
            for term, (label, synonyms) in terms.items()
            for surface in dict.fromkeys([label, *synonyms]) if "\t" not in surface]
    path.write_text("".join(rows), encoding="utf-8")
    return len(rows)


def run_peer(name: str, code: str, task: dict[str, object], work: pathlib.Path) -> dict:
    """Runs `code` under the peer's environment in `work` (created)."""
    work.mkdir(parents=True, exist_ok=True)
    task = {**task, "out": str(work / "found.json")}
    (work / "task.json").write_text(json.dumps(task))
    started = time.perf_counter()
    subprocess.run([str(PEERS / name / "bin" / "python"), "-c", WORKER + code + "\nmain()\n",
                    str(work / "task.json")], check=True, env=peer_env(name), cwd=work)
    result = json.loads((work / "found.json").read_text())
    result["process_wall"] = time.perf_counter() - started
    return result


def run_corvanta(hpo: pathlib.Path, gold, corpora: dict[str, dict]) -> dict:
    wall, cpu = time.perf_counter(), time.process_time()
    matcher = corvanta.Corvanta(str(hpo))
    result: dict = {"setup": [time.perf_counter() - wall, time.process_time() - cpu],
                    "corpora": {}}
    wall, cpu = time.perf_counter(), time.process_time()
    found = found_mentions(matcher, gold)
    result["corpora"]["gsc"] = {"docs": len(gold), "wall": time.perf_counter() - wall,
                                "cpu": time.process_time() - cpu, "mentions": found}
    with open(corpora["abstracts"]["path"], encoding="utf-8") as file:
        texts = [json.loads(line)["text"] for line in file if line.strip()]
    wall, cpu = time.perf_counter(), time.process_time()
    for text in texts:
        matcher.map_text(text)
    result["corpora"]["abstracts"] = {"docs": len(texts), "wall": time.perf_counter() - wall,
                                      "cpu": time.process_time() - cpu}
    return result


def as_mentions(found: dict[str, list], keep=lambda term: True) -> dict[str, list[Mention]]:
    return {doc: [Mention(None if start is None else (start, end), term)
                  for start, end, term in triples if keep(term)]
            for doc, triples in found.items()}


def check_spans(name: str, gold, found: dict[str, list]) -> int:
    """Mentions whose span falls outside their document (a wrong offset base)."""
    lengths = {doc.id: sum(len(text) for _, text in doc.passages) for doc in gold}
    return sum(1 for doc, triples in found.items() for start, end, _ in triples
               if start is not None and not 0 <= start < end <= lengths[doc])


def evaluate_command(hpo: pathlib.Path, gold_path: pathlib.Path) -> dict:
    env = dict(os.environ, PYTHONPATH=str(ROOT / "python"))
    output = subprocess.run([sys.executable, "-m", "corvanta_tools", "evaluate", "--hpo",
                             str(hpo), "--gold", str(gold_path), "--json"],
                            check=True, capture_output=True, text=True, env=env).stdout
    return json.loads(output)


def row(name: str, evaluation: Evaluation, spans: bool) -> str:
    cells = [name]
    for level in ("document", "lenient", "strict"):
        counts = evaluation.total.level(level)
        cells.append(f"{counts.precision:.3f} / {counts.recall:.3f} / {counts.f1:.3f}"
                     if spans or level == "document" else "n/a")
    return "| " + " | ".join(cells) + " |"


def speed_row(name: str, result: dict) -> str:
    corpus = result["corpora"]["abstracts"]
    return (f"| {name} | {result['setup'][0]:.1f} s / {result['setup'][1]:.1f} s | "
            f"{corpus['docs']} | {corpus['wall']:.2f} s / {corpus['cpu']:.2f} s | "
            f"{corpus['docs'] / corpus['wall']:,.0f} / {corpus['docs'] / corpus['cpu']:,.0f} |")


def load_average() -> str:
    return " ".join(f"{load:.1f}" for load in os.getloadavg())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--hpo", type=pathlib.Path, default=SHARED / "hpo" / "hp.json")
    parser.add_argument("--gold", type=pathlib.Path,
                        default=SHARED / "corpora" / "gsc_plus" / "docs.jsonl")
    parser.add_argument("--abstracts", type=pathlib.Path,
                        default=SHARED / "corpora" / "medical_abstracts_tc" / "docs.jsonl")
    parser.add_argument("--slow-subset", type=int, default=300,
                        help="abstracts timed for OAK and ClinPhen (default 300)")
    args = parser.parse_args()
    hpo, started, load_at_start = args.hpo.resolve(), time.perf_counter(), load_average()
    install_peers()
    release = Release(hpo)
    gold = read_gold(str(args.gold))
    terms = phenotype_terms(hpo)
    work = pathlib.Path(tempfile.mkdtemp(prefix="validation-"))
    # A fresh cache file every run: OGER reuses a cached term list whatever
    # its settings or source say.
    termlist_rows = write_termlist(terms, work / "termlist.tsv")
    everything = sum(1 for line in args.abstracts.open(encoding="utf-8") if line.strip())

    def corpora(limit: int) -> dict[str, dict]:
        return {"gsc": {"path": str(args.gold), "limit": len(gold)},
                "abstracts": {"path": str(args.abstracts), "limit": limit}}

    results = {"corvanta": run_corvanta(hpo, gold, corpora(everything))}
    peer_task = {"hpo": str(hpo), "termlist": str(work / "termlist.tsv"),
                 "cache": str(work / "termlist.pickle"),
                 "thesaurus": str(clinphen_thesaurus(hpo, release.version))}
    runs = (("oger", "oger", OGER, everything, {}),
            ("oaklib", "oaklib", OAK, args.slow_subset, {}),
            ("clinphen", "clinphen", CLINPHEN, args.slow_subset, {}),
            ("clinphen-bundled", "clinphen", CLINPHEN, 0, {"thesaurus": None}))
    for key, name, code, limit, settings in runs:
        results[key] = run_peer(name, code, {**peer_task, **settings, "corpora": corpora(limit)},
                                work / key)
    command = evaluate_command(hpo, args.gold)

    def found(key: str, keep=lambda term: True) -> dict[str, list[Mention]]:
        return as_mentions(results[key]["corpora"]["gsc"]["found"], keep)

    scored = [
        ("corvanta `map_text`", results["corvanta"]["corpora"]["gsc"]["mentions"], True),
        ("OGER, lowercase", found("oger"), True),
        (f"OAK, pronto adapter, cut to {PHENOTYPE_ROOT}",
         found("oaklib", lambda term: release.primary_id(term) in terms), True),
        ("OAK, pronto adapter, all HP ids", found("oaklib", lambda term: term.startswith("HP:")),
         True),
        ("ClinPhen, thesaurus from the release", found("clinphen"), False),
        ("ClinPhen, bundled thesaurus (HPO 2018-12-21)", found("clinphen-bundled"), False),
    ]
    scored = [(name, score(gold, mentions, release), spans) for name, mentions, spans in scored]
    corvanta_document = scored[0][1].total.document.as_json()
    if command["document"] != corvanta_document:
        raise SystemExit(f"corvanta evaluate disagrees: {command['document']} against "
                         f"{corvanta_document}")
    for name in ("oger", "oaklib"):
        outside = check_spans(name, gold, results[name]["corpora"]["gsc"]["found"])
        if outside:
            print(f"warning: {name}: {outside} spans outside their document", file=sys.stderr)

    print(f"HPO release {release.version} ({hpo}), GSC+ {len(gold)} documents "
          f"({args.gold}); {termlist_rows} OGER term-list rows from {len(terms)} terms under "
          f"{PHENOTYPE_ROOT}")
    print(f"corvanta {package_version()}; machine: {os.cpu_count()} cores\n")
    print("| tool | document P / R / F1 | lenient mentions P / R / F1 | "
          "strict mentions P / R / F1 |")
    print("|---|---|---|---|")
    for name, evaluation, spans in scored:
        print(row(name, evaluation, spans))
    print(f"\n`corvanta evaluate --gold {args.gold.name} --json`: document "
          f"{command['document']['precision']:.3f} / {command['document']['recall']:.3f} / "
          f"{command['document']['f1']:.3f} (equal to the row above)\n")
    print("| tool | setup wall / CPU | abstracts | annotation wall / CPU | "
          "abstracts/s wall / CPU |")
    print("|---|---|---|---|---|")
    for name, label in (("corvanta", "corvanta `map_text`"), ("oger", "OGER"),
                        ("oaklib", "OAK"), ("clinphen", "ClinPhen, thesaurus from the release")):
        print(speed_row(label, results[name]))
    print("\nGSC+ annotation time (wall / CPU): " + ", ".join(
        f"{name} {results[name]['corpora']['gsc']['wall']:.2f} s / "
        f"{results[name]['corpora']['gsc']['cpu']:.2f} s" for name in results))
    print(f"whole run {time.perf_counter() - started:.0f} s wall; load average at the start "
          f"{load_at_start}, at the end {load_average()}")
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
