"""The module surface: types, argument rules, errors and object lifetimes."""
import gc
import os
import pathlib
import subprocess
import sys

import pytest

import corvanta
from conftest import node, release, write_json


def test_module_exports():
    assert corvanta.__all__ == ["Corvanta", "Hit"]
    assert corvanta.__doc__ == ""
    assert corvanta.Corvanta.__module__ == "builtins"
    assert corvanta.Hit.__module__ == "builtins"
    assert corvanta.Corvanta.__text_signature__ == "(hp_json_path)"
    assert isinstance(vars(corvanta.Corvanta)["fetch_latest"], staticmethod)


@pytest.mark.parametrize("cls", [corvanta.Corvanta, corvanta.Hit])
def test_types_are_final(cls):
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_hit_cannot_be_created():
    with pytest.raises(TypeError, match=r"^cannot create 'builtins\.Hit' instances$"):
        corvanta.Hit()


@pytest.mark.parametrize(
    "member, signature",
    [
        ("version", "($self)"),
        ("map_text", "($self, text)"),
        ("map_text_longest", "($self, text)"),
        ("map_text_json", "($self, text)"),
    ],
)
def test_method_signatures(member, signature):
    assert getattr(corvanta.Corvanta, member).__text_signature__ == signature


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda c: c.map_text(), "Corvanta.map_text() missing 1 required positional argument: 'text'"),
        (lambda c: c.map_text("a", "b"), "Corvanta.map_text() takes 1 positional arguments but 2 were given"),
        (lambda c: c.map_text_longest(txt="a"), "Corvanta.map_text_longest() got an unexpected keyword argument 'txt'"),
        (lambda c: c.map_text_json("a", text="b"), "Corvanta.map_text_json() got multiple values for argument 'text'"),
        (lambda c: corvanta.Corvanta(), "Corvanta.__new__() missing 1 required positional argument: 'hp_json_path'"),
        (lambda c: corvanta.Corvanta("a", "b"), "Corvanta.__new__() takes 1 positional arguments but 2 were given"),
        (lambda c: corvanta.Corvanta(path="a"), "Corvanta.__new__() got an unexpected keyword argument 'path'"),
        (lambda c: corvanta.Corvanta("a", hp_json_path="b"),
         "Corvanta.__new__() got multiple values for argument 'hp_json_path'"),
    ],
)
def test_argument_errors(small, call, message):
    with pytest.raises(TypeError) as info:
        call(small)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "value, message",
    [
        (pathlib.Path("x"), f"'{type(pathlib.Path('x')).__name__}' object is not an instance of 'str'"),
        (b"x", "'bytes' object is not an instance of 'str'"),
        (None, "'None' is not an instance of 'str'"),
        (3, "'int' object is not an instance of 'str'"),
    ],
)
def test_non_str_arguments(small, value, message):
    for call, name in ((corvanta.Corvanta, "hp_json_path"), (small.map_text, "text")):
        with pytest.raises(TypeError) as info:
            call(value)
        assert str(info.value) == message
        if sys.version_info >= (3, 11):
            assert info.value.__notes__ == [f"while processing '{name}'"]


def test_keyword_arguments(small, small_release):
    assert corvanta.Corvanta(hp_json_path=small_release).version() == "2025-01-01"
    assert [h.term_id for h in small.map_text(text="Ataxia")] == ["HP:0001251"]


def test_version_takes_no_arguments(small):
    with pytest.raises(TypeError):
        small.version(1)


def test_str_subclass_is_accepted(small):
    class Text(str):
        pass

    assert len(small.map_text(Text("Ataxia"))) == 1


def test_hit_attributes(small):
    (hit,) = small.map_text("Ataxia")
    assert (hit.term_id, hit.label, hit.span, hit.excluded) == ("HP:0001251", "Ataxia", (0, 6), False)
    assert hit.span is not hit.span and hit.span == hit.span
    assert all(type(x) is int for x in hit.span)
    for name in ("term_id", "label", "span", "excluded"):
        with pytest.raises(AttributeError):
            setattr(hit, name, None)
    (other,) = small.map_text("Ataxia")
    assert hit != other and hit == hit


def test_hits_outlive_their_matcher(small_release):
    matcher = corvanta.Corvanta(small_release)
    hits = matcher.map_text("Tremor and chorea")
    del matcher
    gc.collect()
    assert [h.label for h in hits] == ["Tremor", "Chorea"]


def test_independent_objects(small_release):
    a, b = corvanta.Corvanta(small_release), corvanta.Corvanta(small_release)
    assert a is not b and a.version() == b.version()


@pytest.mark.parametrize(
    "setup, expected",
    [
        (lambda d: str(d / "missing.json"), "No such file or directory (os error 2)"),
        (lambda d: _text(d, "not json"), "Reading graph document"),
        # The part before the NUL names a loadable file: the path is never cut there.
        (lambda d: write_json(d / "hp.json", release([node("0000118", "Phenotypic abnormality")], []))
         + "\0ignored", "path contains a NUL character"),
    ],
)
def test_construction_errors(tmp_path, setup, expected):
    path = setup(tmp_path)
    with pytest.raises(OSError) as info:
        corvanta.Corvanta(path)
    assert info.value.args == (f"failed to load HPO ontology from {path}: {expected}",)
    assert info.value.errno is None and info.value.__cause__ is None


def _text(d, content):
    p = d / "doc.json"
    p.write_text(content)
    return str(p)


def test_empty_label_table_builds(tmp_path):
    path = write_json(tmp_path / "hp.json", release([], []))
    matcher = corvanta.Corvanta(path)
    assert matcher.map_text("Seizures and ataxia") == []
    assert matcher.map_text_json("Seizures") == "[]"


ABI3_CHECK = """
import sys, corvanta
c = corvanta.Corvanta(sys.argv[1])
print(sys.version_info[:2], c.version(), [h.term_id for h in c.map_text("Ataxia")])
"""


def _interpreters():
    root = pathlib.Path(os.environ.get("PYENV_ROOT", pathlib.Path.home() / ".pyenv")) / "versions"
    found = {}
    for minor in (10, 11, 12, 13):
        candidates = sorted(root.glob(f"3.{minor}.*/bin/python3.{minor}")) if root.exists() else []
        for exe in candidates + [pathlib.Path(f"/usr/bin/python3.{minor}")]:
            if exe.exists():
                found[minor] = str(exe)
                break
    return found


@pytest.mark.parametrize("minor", [10, 11, 12, 13])
def test_one_abi3_build_imports_everywhere(minor, small_release):
    exe = _interpreters().get(minor)
    if exe is None:
        pytest.skip(f"no Python 3.{minor} here")
    module_dir = pathlib.Path(corvanta.__file__).parent
    env = dict(os.environ, PYTHONPATH=str(module_dir))
    out = subprocess.run([exe, "-I", "-c", "import sys; sys.path.insert(0, sys.argv[2]);" + ABI3_CHECK,
                          small_release, str(module_dir)], capture_output=True, text=True, env=env)
    assert out.returncode == 0, out.stderr
    assert f"(3, {minor}) 2025-01-01 ['HP:0001251']" in out.stdout
    assert corvanta.__file__.endswith(".abi3.so")


# A matcher and its hits keep working once their module has left sys.modules,
# and the module is released with the last of them.
MODULE_LEFT_SYS_MODULES = """
import gc, sys, weakref
import corvanta
release, broken = sys.argv[1], sys.argv[2]
module = weakref.ref(corvanta)
matcher = corvanta.Corvanta(release)
hits = matcher.map_text("Ataxia")
del sys.modules["corvanta"], corvanta
gc.collect()
print([h.label for h in matcher.map_text("Tremor")])
try:
    type(matcher)(broken)
except BaseException as e:
    print(type(e).__module__, type(e).__name__, isinstance(e, Exception))
del matcher
gc.collect()
print([(h.term_id, h.label, h.span, h.excluded) for h in hits])
del hits
gc.collect()
print(module() is None)
import corvanta
print(corvanta.__all__, [h.term_id for h in corvanta.Corvanta(release).map_text("Ataxia")])
"""

MODULE_LEFT_EXPECTED = """['Tremor']
corvanta InvariantError False
[('HP:0001251', 'Ataxia', (0, 6), False)]
True
['Corvanta', 'Hit'] ['HP:0001251']
"""

# Each interpreter imports its own module; one that ends takes its module
# with it and leaves the others working.
IN_SUBINTERPRETERS = """
import sys, _testcapi
code = '''
import corvanta
hits = corvanta.Corvanta({0!r}).map_text("Ataxia")
try:
    corvanta.Corvanta({1!r})
except BaseException as e:
    assert type(e).__name__ == "InvariantError", e
assert [h.term_id for h in hits] == ["HP:0001251"] and corvanta.__all__ == ["Corvanta", "Hit"]
'''.format(*sys.argv[1:3])
import corvanta
matcher = corvanta.Corvanta(sys.argv[1])
print([_testcapi.run_in_subinterp(code) for _ in range(2)])
print([h.term_id for h in matcher.map_text("Ataxia")])
"""

IN_SUBINTERPRETERS_EXPECTED = """[0, 0]
['HP:0001251']
"""


@pytest.mark.parametrize("child, expected", [
    (MODULE_LEFT_SYS_MODULES, MODULE_LEFT_EXPECTED),
    (IN_SUBINTERPRETERS, IN_SUBINTERPRETERS_EXPECTED),
], ids=["left-sys-modules", "subinterpreters"])
def test_module_lifetime(tmp_path, small_release, child, expected):
    if "_testcapi" in child and subprocess.run([sys.executable, "-c", "import _testcapi"]).returncode:
        pytest.skip("this interpreter has no _testcapi to start a subinterpreter with")
    broken = write_json(tmp_path / "hp.json", release([node("0000118", "Phenotypic abnormality")], [],
                                                      version=None))
    out = subprocess.run([sys.executable, "-c", child, small_release, broken],
                         capture_output=True, text=True, timeout=120)
    assert (out.returncode, out.stdout, out.stderr) == (0, expected, "")
