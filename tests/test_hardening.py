"""Hardening: memory and reference counts over long runs, threads, and hostile input.

The tests marked `thorough` take the longest; they run in CI (CI=true) or with
CORVANTA_HARDENING=1 and are skipped otherwise. Under the sanitizer build
(CORVANTA_SANITIZED=1) every loop still runs, but resident-memory bounds are
not checked: the sanitizer's allocator keeps freed memory in quarantine.
"""
import contextlib
import ctypes
import gc
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import threading
import tracemalloc

import pytest

import corvanta
from conftest import REAL_RELEASE, SHARED, node, release, write_json

# Seconds each, even where `thorough` does not skip: left out by --quick.
pytestmark = pytest.mark.slow
thorough = pytest.mark.skipif(
    os.environ.get("CI") != "true" and os.environ.get("CORVANTA_HARDENING") != "1",
    reason="runs in CI or with CORVANTA_HARDENING=1",
)
SANITIZED = os.environ.get("CORVANTA_SANITIZED") == "1"
MB = 1 << 20

_malloc_trim = getattr(ctypes.CDLL(None), "malloc_trim", None)


def resident_mb():
    """Resident memory, once the allocator has returned the free memory it caches."""
    if _malloc_trim is not None:
        _malloc_trim(0)
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / MB


def reference_counts(objects):
    """Taken before an assert statement: the assert's own temporaries would count too."""
    return [sys.getrefcount(o) for o in objects]


def assert_settled(before, after, bound_mb):
    if not SANITIZED:
        assert after - before <= bound_mb, f"resident memory grew from {before:.1f} MB to {after:.1f} MB"


def module_env():
    """The environment for a child interpreter that must import this corvanta."""
    module_dir = str(pathlib.Path(corvanta.__file__).parent)
    path = os.environ.get("PYTHONPATH")
    return dict(os.environ, PYTHONPATH=module_dir + (os.pathsep + path if path else ""))


def run_child(script, *args, prefix=(), timeout=120):
    return subprocess.run([*prefix, sys.executable, "-c", script, *map(str, args)],
                          capture_output=True, text=True, env=module_env(), timeout=timeout)


def load_docs(name):
    path = SHARED / "corpora" / name / "docs.jsonl"
    if not path.exists():
        pytest.skip(f"the {name} corpus is not available")
    with path.open(encoding="utf-8") as f:
        return [json.loads(line)["text"] for line in f]


@pytest.fixture(scope="module")
def abstracts():
    return load_docs("gsc_plus") + load_docs("medical_abstracts_tc")[:300]


@pytest.fixture(scope="module")
def sentences(abstracts):
    """Short texts of every kind: sentences as written, shouted, and with non-ASCII."""
    found = [s for doc in abstracts for s in re.split(r"(?<=\.) ", doc) if s]
    return found + [s.upper() for s in found[::3]] + [f"\u00c9 {s} \U0001F642" for s in found[1::3]]


def hit_tuples(hits):
    return [(h.term_id, h.label, h.span, h.excluded) for h in hits]


def outcome(matcher, text):
    """Everything the three recognition methods say about one text."""
    return hit_tuples(matcher.map_text(text)), hit_tuples(matcher.map_text_longest(text)), matcher.map_text_json(text)


# Leaks and lifetimes


def test_building_and_dropping_real_objects_settles():
    gc.collect()
    type_refs = reference_counts([corvanta.Corvanta])
    resident = []
    for _ in range(20):
        matcher = corvanta.Corvanta(str(REAL_RELEASE))
        assert matcher.map_text("Seizures and short stature")
        del matcher
        resident.append(resident_mb())
    assert reference_counts([corvanta.Corvanta]) == type_refs
    # The first builds warm the allocator; after them nothing may accumulate.
    assert_settled(resident[4], max(resident[5:]), 4)


@pytest.mark.parametrize("method", ["map_text", "map_text_longest", "map_text_json", "version"])
def test_100000_calls_settle(real, sentences, method):
    call = getattr(real, method)
    texts = sentences
    gc.collect()
    refs = reference_counts([corvanta.Hit, *texts[:50]])

    def calls(begin, end):
        for i in range(begin, end):
            result = call() if method == "version" else call(texts[i % len(texts)])
        return result

    calls(0, 10_000)
    before = resident_mb()
    calls(10_000, 100_000)
    after = resident_mb()
    assert reference_counts([corvanta.Hit, *texts[:50]]) == refs
    assert_settled(before, after, 2)


def test_hits_outlive_their_real_matcher(abstracts):
    matcher = corvanta.Corvanta(str(REAL_RELEASE))
    kept = [matcher.map_text(doc) for doc in abstracts[:100]]
    expected = [hit_tuples(hits) for hits in kept]
    del matcher
    gc.collect()
    # Reuse the freed memory before the hits are read again.
    other = corvanta.Corvanta(str(REAL_RELEASE))
    for doc in abstracts[100:200]:
        other.map_text_json(doc)
    del other
    assert [hit_tuples(hits) for hits in kept] == expected
    assert sum(map(len, expected)) > 500


def _error_calls(small, tmp):
    """(name, call, expected exception type, objects whose reference counts must not move)."""
    missing = str(tmp / "missing.json")
    not_json = write_json(tmp / "text.json", "not a release")
    no_version = write_json(tmp / "nv.json", release([node("0000118", "Phenotypic abnormality")], [], version=None))
    no_graphs = write_json(tmp / "ng.json", {"graphs": []})
    nul_path = missing + "\0x"
    surrogate = "fever \ud800"
    number = 12345.5
    directory = str(tmp)
    hit = small.map_text("Ataxia")[0]
    calls = []
    for name in ("map_text", "map_text_longest", "map_text_json"):
        method = getattr(small, name)
        calls += [
            (f"{name}(float)", lambda m=method: m(number), TypeError, [number]),
            (f"{name}(None)", lambda m=method: m(None), TypeError, []),
            (f"{name}(surrogate)", lambda m=method: m(surrogate), UnicodeEncodeError, [surrogate]),
            (f"{name}()", lambda m=method: m(), TypeError, []),
            (f"{name}(2 args)", lambda m=method: m(surrogate, surrogate), TypeError, [surrogate]),
            (f"{name}(unknown keyword)", lambda m=method: m(txt=surrogate), TypeError, [surrogate]),
            (f"{name}(doubled)", lambda m=method: m(surrogate, text=surrogate), TypeError, [surrogate]),
        ]
    build = corvanta.Corvanta
    calls += [
        ("version(arg)", lambda: small.version(number), TypeError, [number]),
        ("Corvanta(float)", lambda: build(number), TypeError, [number]),
        ("Corvanta(surrogate)", lambda: build(surrogate), UnicodeEncodeError, [surrogate]),
        ("Corvanta(missing)", lambda: build(missing), OSError, [missing]),
        ("Corvanta(directory)", lambda: build(directory), OSError, [directory]),
        ("Corvanta(not json)", lambda: build(not_json), OSError, [not_json]),
        ("Corvanta(NUL path)", lambda: build(nul_path), OSError, [nul_path]),
        ("Corvanta(no version)", lambda: build(no_version), BaseException, [no_version]),
        ("Corvanta(no graphs)", lambda: build(no_graphs), BaseException, [no_graphs]),
        ("Corvanta(unknown keyword)", lambda: build(path=missing), TypeError, [missing]),
        ("fetch_latest(float)", lambda: build.fetch_latest(number), TypeError, [number]),
        ("fetch_latest(surrogate)", lambda: build.fetch_latest(surrogate), UnicodeEncodeError, [surrogate]),
        ("fetch_latest(NUL path)", lambda: build.fetch_latest(nul_path), OSError, [nul_path]),
        ("Hit()", lambda: corvanta.Hit(), TypeError, []),
        ("hit.label = ...", lambda: setattr(hit, "label", surrogate), AttributeError, [hit, surrogate]),
    ]
    return calls


def test_error_paths_keep_reference_counts_and_memory(small, tmp_path):
    watched_types = [corvanta.Corvanta, corvanta.Hit, str, OSError, TypeError, UnicodeEncodeError]
    gc.collect()
    for name, call, expected, objects in _error_calls(small, tmp_path):
        refs = reference_counts(watched_types + objects)

        def fail(times):
            for _ in range(times):
                try:
                    call()
                except expected:
                    pass
                else:
                    pytest.fail(f"{name} did not fail")

        fail(200)
        tracemalloc.start()
        try:
            traced = tracemalloc.get_traced_memory()[0]
            fail(2000)
            gc.collect()
            grown = tracemalloc.get_traced_memory()[0] - traced
        finally:
            tracemalloc.stop()
        now = reference_counts(watched_types + objects)
        assert now == refs, name
        assert grown < 64 * 1024, f"{name}: {grown} bytes still allocated after 2000 failures"


# Threads


def test_eight_threads_sharing_one_object_match_one_thread(real, abstracts):
    expected = [outcome(real, text) for text in abstracts]
    results = [None] * 8
    start = threading.Barrier(8)

    def work(k):
        start.wait()
        # Each thread walks the texts from a different place, so that
        # different texts are recognized at the same moment.
        order = [(i + 67 * k) % len(abstracts) for i in range(len(abstracts))]
        found = {i: outcome(real, abstracts[i]) for i in order}
        results[k] = [found[i] for i in range(len(abstracts))]

    threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(r == expected for r in results)


def test_two_constructions_at_once(real, small_release, abstracts):
    built = {}
    start = threading.Barrier(3)

    def build(key, path):
        start.wait()
        built[key] = corvanta.Corvanta(path)

    threads = [threading.Thread(target=build, args=(key, path))
               for key, path in (("a", str(REAL_RELEASE)), ("b", str(REAL_RELEASE)), ("small", small_release))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert built["a"].version() == built["b"].version() == real.version()
    assert built["small"].version() == "2025-01-01"
    for text in abstracts[:50]:
        assert outcome(built["a"], text) == outcome(built["b"], text) == outcome(real, text)


# Hostile input: texts


@pytest.mark.parametrize(
    "text, expected",
    [
        ("Seizures\0and ataxia", [("HP:0001250", "Seizures", (0, 8), False),
                                  ("HP:0001251", "Ataxia", (13, 19), False)]),
        ("\0\0Fever", [("HP:0001945", "Fever", (2, 7), False)]),
        ("Fever" + "\0" * 100_000 + "ataxia", [("HP:0001945", "Fever", (0, 5), False),
                                               ("HP:0001251", "Ataxia", (100_005, 100_011), False)]),
        ("atax\0ia", []),
        ("\0" * 10, []),
        # NUL ends neither a sentence nor a phrase search: the trigger before it still reaches the hit.
        ("no evidence of\0fever", [("HP:0001945", "Fever", (15, 20), True)]),
        ("no\0evidence of fever", [("HP:0001945", "Fever", (15, 20), False)]),
        ("\U0001F642 fever \U0001F642ataxia", [("HP:0001945", "Fever", (5, 10), False),
                                               ("HP:0001251", "Ataxia", (15, 21), False)]),
    ],
)
def test_nul_bytes_and_emoji_are_ordinary_characters(small, text, expected):
    assert hit_tuples(small.map_text(text)) == expected
    assert json.loads(small.map_text_json(text)) == [
        {"excluded": x, "label": label, "span": list(span), "termId": term} for term, label, span, x in expected
    ]


@pytest.mark.parametrize(
    "call, name",
    [
        (lambda m, s: m.map_text(s), "text"),
        (lambda m, s: m.map_text_longest(s), "text"),
        (lambda m, s: m.map_text_json(text=s), "text"),
        (lambda m, s: corvanta.Corvanta(s), "hp_json_path"),
        (lambda m, s: corvanta.Corvanta.fetch_latest(s), "cache_dir"),
    ],
)
@pytest.mark.parametrize(
    "text, surrogate, position",
    [("fever \ud800 ataxia", "\ud800", 6), ("\udfff", "\udfff", 0), ("ataxia \U0001F642\udc80", "\udc80", 8)],
)
def test_lone_surrogates_raise_the_encoding_error(small, call, name, text, surrogate, position):
    with pytest.raises(UnicodeEncodeError) as info:
        call(small, text)
    error = info.value
    reason = "surrogates not allowed"
    assert (error.encoding, error.start, error.end, error.reason) == ("utf-8", position, position + 1, reason)
    assert str(error) == f"'utf-8' codec can't encode character {surrogate!r} in position {position}: {reason}"
    if sys.version_info >= (3, 11):
        assert error.__notes__ == [f"while processing '{name}'"]


def test_one_cluster_of_100000_exact_labels(small):
    text = " ".join(["seizure ataxia"] * 50_000)
    expected = [
        h for k in range(50_000)
        for h in (("HP:0001250", "Seizure", (15 * k, 15 * k + 7), False),
                  ("HP:0001251", "Ataxia", (15 * k + 8, 15 * k + 14), False))
    ]
    assert hit_tuples(small.map_text(text)) == expected
    assert hit_tuples(small.map_text_longest(text)) == expected
    assert len(json.loads(small.map_text_json(text))) == 100_000


def test_one_cluster_of_100000_words_is_searched_only_near_its_start(small):
    # Neither word is a label on its own; only the clustering stage finds
    # them, and it takes the shorter windows from the first twenty words only.
    text = " ".join(["tremors intention"] * 50_000)

    def word(j):
        base = 18 * (j // 2)
        return (base + 8, base + 17) if j % 2 else (base, base + 7)

    tremors = [("HP:0001337", "Tremor", word(j), False) for j in range(0, 20, 2)]
    pairs = [("HP:0002080", "Intention tremor", (word(j)[0], word(j + 1)[1]), False) for j in range(19)]
    assert hit_tuples(small.map_text(text)) == sorted(tremors + pairs, key=lambda h: h[2][0])
    assert hit_tuples(small.map_text_longest(text)) == pairs


# Hostile input: release files


def load_error(path):
    """The text after the path in the OSError that loading `path` raises."""
    with pytest.raises(OSError) as info:
        corvanta.Corvanta(str(path))
    prefix = f"failed to load HPO ontology from {path}: "
    (message,) = info.value.args
    assert message.startswith(prefix)
    return message[len(prefix):]


def test_truncated_at_every_megabyte_of_the_real_release(tmp_path):
    data = REAL_RELEASE.read_bytes()
    path = tmp_path / "hp.json"
    causes = []
    for size in range(0, len(data), MB):
        path.write_bytes(data[:size])
        causes.append(load_error(path))
    assert causes == ["Reading graph document"] * (len(data) // MB + 1)


def test_real_release_with_one_byte_that_is_not_utf8_near_its_end(tmp_path):
    data = bytearray(REAL_RELEASE.read_bytes())
    at = data.rindex(b'"lbl" : "') + len(b'"lbl" : "')
    data[at] = 0xE9
    path = tmp_path / "hp.json"
    path.write_bytes(bytes(data))
    assert load_error(path) == "Reading graph document"


@pytest.mark.parametrize(
    "document",
    [
        b'{"graphs":[' + b"[" * 100_000 + b"]" * 100_000 + b"]}",
        b'{"graphs":[{"id":"g","nodes":[],"edges":[],"unknown":' + b'{"a":' * 100_000 + b"1" + b"}" * 100_000 + b"}]}",
        b'{"graphs":[{"id":"g","nodes":[],"edges":[],"unknown":' + b"[" * 100_000,
    ],
    ids=["arrays", "objects under an unknown key", "unclosed"],
)
def test_release_nested_100000_levels_deep(tmp_path, document):
    path = tmp_path / "hp.json"
    path.write_bytes(document)
    assert load_error(path) == "Reading graph document"


def test_release_that_opens_but_cannot_be_read():
    # The process's own memory file opens, but reading its first page fails.
    assert load_error("/proc/self/mem") == "Reading graph document"


OUT_OF_MEMORY_CHILD = """
import resource, sys, corvanta
limit = 2 << 30
resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
try:
    corvanta.Corvanta(sys.argv[1])
except BaseException as e:
    print(type(e).__name__)
"""


@pytest.mark.parametrize("source", ["/dev/zero", "sparse file"])
def test_release_that_outgrows_the_memory_limit(tmp_path, source):
    # /dev/zero never ends, so its read buffer grows until memory runs out;
    # the sparse file's text fits, but the parser's memory for it does not.
    if SANITIZED:
        pytest.skip("the sanitizer reserves more address space than the limit")
    path = pathlib.Path(source)
    if source == "sparse file":
        path = tmp_path / "hp.json"
        with path.open("wb") as f:
            f.truncate(400 * MB)
    out = run_child(OUT_OF_MEMORY_CHILD, path)
    assert (out.returncode, out.stdout) == (0, "MemoryError\n"), out.stderr


UNREADABLE_CHILD = """
import sys, corvanta
try:
    corvanta.Corvanta(sys.argv[1])
except OSError as e:
    print(e.args[0])
"""


def test_release_without_read_permission(tmp_path, small_release):
    path = tmp_path / "hp.json"
    shutil.copy(small_release, path)
    path.chmod(0)
    prefix = ()
    if os.geteuid() == 0:
        # Root reads past the mode bits only through these two capabilities.
        if shutil.which("setpriv") is None:
            pytest.skip("running as root without setpriv")
        drop = "-dac_override,-dac_read_search"
        prefix = ("setpriv", f"--bounding-set={drop}", f"--inh-caps={drop}")
    out = run_child(UNREADABLE_CHILD, path, prefix=prefix)
    if out.returncode != 0 and out.stderr.startswith("setpriv:"):
        pytest.skip(f"cannot drop capabilities here: {out.stderr.strip()}")
    assert out.returncode == 0, out.stderr
    assert out.stdout == f"failed to load HPO ontology from {path}: Permission denied (os error 13)\n"


@contextlib.contextmanager
def fifo_fed(tmp_path, content):
    """A FIFO whose writer sends `content` once a reader opens it."""
    fifo = tmp_path / "hp.json"
    os.mkfifo(fifo)
    source = tmp_path / "source"
    source.write_bytes(content)
    # The writer runs in its own process, so it cannot wait on this one.
    writer = subprocess.Popen(["sh", "-c", 'cat "$1" > "$2"', "sh", str(source), str(fifo)])
    try:
        yield fifo
    finally:
        if writer.poll() is None:
            writer.kill()
        writer.wait()


def test_fifo_fed_a_release_builds(tmp_path, small_release):
    with fifo_fed(tmp_path, pathlib.Path(small_release).read_bytes()) as fifo:
        matcher = corvanta.Corvanta(str(fifo))
    assert matcher.version() == "2025-01-01"
    assert hit_tuples(matcher.map_text("Ataxia")) == [("HP:0001251", "Ataxia", (0, 6), False)]


def test_fifo_fed_garbage_fails_to_read(tmp_path):
    with fifo_fed(tmp_path, os.urandom(1 << 18)) as fifo:
        assert load_error(fifo) == "Reading graph document"


FIFO_WITHOUT_WRITER_CHILD = """
import os, signal, sys, threading, corvanta
# Ctrl-C a second into the wait for a writer.
threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT)).start()
try:
    corvanta.Corvanta(sys.argv[1])
except KeyboardInterrupt as e:
    print("KeyboardInterrupt", repr(e.__context__))
"""


def test_fifo_without_writer_waits_until_interrupted(tmp_path):
    # Opening a FIFO waits for its writer, as every reader of one does; what
    # must hold is that Ctrl-C ends the wait, with KeyboardInterrupt alone.
    fifo = tmp_path / "hp.json"
    os.mkfifo(fifo)
    out = run_child(FIFO_WITHOUT_WRITER_CHILD, fifo, timeout=60)
    assert (out.returncode, out.stdout) == (0, "KeyboardInterrupt None\n"), out.stderr


BIG_TEXT_CHILD = """
import ctypes, json, re, sys, corvanta
release, method, pieces = sys.argv[1], sys.argv[2], json.load(sys.stdin)
trim = getattr(ctypes.CDLL(None), "malloc_trim", None)

def resident():
    if trim is not None:
        trim(0)
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096

def peak():
    with open("/proc/self/status") as f:
        return int(re.search(r"VmHWM:\\s+(\\d+)", f.read()).group(1)) * 1024

def described(result):
    if isinstance(result, str):
        return [(h["termId"], h["label"], tuple(h["span"]), h["excluded"]) for h in json.loads(result)]
    return [(h.term_id, h.label, h.span, h.excluded) for h in result]

matcher = corvanta.Corvanta(release)
call = getattr(matcher, method)
# The piece ends in a line of its own that closes every cluster and sentence,
# so the big text's hits are the piece's, repeated. Without pieces the text
# is a single word.
piece = "\\n".join(pieces) + "\\n.\\n" if pieces else "abcdefghij"
copies = -(-50 * 2**20 // len(piece))
text = piece * copies
once = described(call(piece))
expected = [(t, l, (b + k * len(piece), e + k * len(piece)), x) for k in range(copies) for t, l, (b, e), x in once]
before = resident()
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")
call(text)
grown = peak() - before
retained = resident() - before
same = described(call(text)) == expected
print(json.dumps({"text": len(text), "hits": len(expected), "same": same, "grown": grown, "retained": retained}))
"""


@thorough
@pytest.mark.parametrize("method", ["map_text", "map_text_json"])
@pytest.mark.parametrize("kind", ["abstracts", "one word"])
def test_50_mb_text(abstracts, method, kind):
    # ASCII keeps the text's UTF-8 form inside the str itself: any memory the
    # call leaves behind is then the module's.
    pieces = [doc for doc in abstracts if doc.isascii()] if kind == "abstracts" else []
    out = subprocess.run([sys.executable, "-c", BIG_TEXT_CHILD, str(REAL_RELEASE), method],
                         input=json.dumps(pieces), capture_output=True, text=True, env=module_env(), timeout=600)
    assert out.returncode == 0, out.stderr
    figures = json.loads(out.stdout)
    assert figures["same"]
    assert figures["hits"] > 100_000 if pieces else figures["hits"] == 0
    size = figures["text"]
    assert size >= 50 * MB
    if not SANITIZED:
        # Memory in proportion to the text while the call runs, and the
        # thread's buffers handed back when it returns.
        assert figures["grown"] <= 6 * size, figures
        assert figures["retained"] <= size // 10, figures
