"""The README's Python examples, run in order in one namespace (later ones use
the `matcher` of earlier ones). A value the README states in a comment, after
an expression or as the lines a statement prints, is checked."""
import ast
import contextlib
import io
import pathlib
import re

import pytest

README = pathlib.Path(__file__).resolve().parents[1] / "README.md"
BLOCKS = re.findall(r"^```python\n(.*?)^```", README.read_text(encoding="utf-8"), re.S | re.M)


def stated(comment):
    """The value a comment states: all of it, or the part before a colon
    that explains it ("'HP:0000003': an alternative id")."""
    cuts = [len(comment)] + [i for i, c in enumerate(comment) if c == ":"][::-1]
    for cut in cuts:
        with contextlib.suppress(ValueError, SyntaxError):
            return True, ast.literal_eval(comment[:cut].strip())
    return False, None


def comments_after(lines, statement):
    """The comment on the statement's last line and the comment lines right
    after it."""
    found = []
    last = lines[statement.end_lineno - 1]
    if "#" in last[statement.end_col_offset:]:
        found.append(last[statement.end_col_offset:].split("#", 1)[1].strip())
    for line in lines[statement.end_lineno:]:
        if not line.startswith("#"):
            break
        found.append(line[1:].strip())
    return found


def run_block(source, namespace):
    lines = source.splitlines()
    for statement in ast.parse(source).body:
        code = ast.get_source_segment(source, statement)
        comments = comments_after(lines, statement)
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            if isinstance(statement, ast.Expr):
                value = eval(code, namespace)
            else:
                exec(code, namespace)
                value = None
        if printed.getvalue():
            if comments:
                assert printed.getvalue().splitlines() == comments, code
        elif value is not None and comments:
            known, expected = stated(" ".join(comments))
            if known:
                assert value == expected, code


@pytest.fixture(scope="module")
def namespace():
    return {"notes": ["Short stature; no evidence of ataxia.", "Seizures."]}


@pytest.mark.parametrize("index", range(len(BLOCKS)))
def test_example(namespace, index):
    source = BLOCKS[index]
    if "import spacy" in source:
        from conftest import require
        require("spacy", "the [spacy] extra is not installed")
    run_block(source, namespace)


def test_the_readme_has_examples():
    assert len(BLOCKS) >= 5
