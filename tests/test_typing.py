"""The installed type information: mypy --strict accepts the examples, rejects
misuse, and the stub matches the extension at run time."""
import pathlib
import subprocess
import sys


from conftest import require

require("mypy", reason="mypy is not installed (scripts/test-extras.sh installs it)")

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"
MISUSE = """\
import pathlib
import corvanta
from corvanta_tools import CharOffsets
matcher = corvanta.Corvanta(pathlib.Path("hp.json"))
hit = matcher.map_text("text")[0]
hit.span = (1, 2)
start: int = CharOffsets("text").char_span(hit.span)[0]
negated: str = hit.excluded
"""


def mypy(cwd, *args):
    # Run outside the repository so that only the installed package is seen.
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(cwd / "cache"), *args],
                          cwd=cwd, capture_output=True, text=True)


def test_examples_pass_and_misuse_is_caught(tmp_path):
    (tmp_path / "misuse.py").write_text(MISUSE)
    result = mypy(tmp_path, str(EXAMPLES / "python_api.py"), str(EXAMPLES / "annotate_threads.py"),
                  "misuse.py")
    errors = [line.split(": error: ")[0].rsplit(":", 1) for line in result.stdout.splitlines()
              if ": error: " in line]
    assert errors == [["misuse.py", line] for line in ("4", "6", "7", "8")], result.stdout


def test_stub_matches_the_extension(tmp_path):
    allowlist = pathlib.Path(__file__).with_name("stubtest-allowlist.txt")
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "corvanta", "--allowlist", str(allowlist)],
                            cwd=tmp_path, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout
