"""What the libFuzzer targets (atheris) of the input readers of `corvanta
annotate` check, fuzz_pubtator.py, fuzz_bioc_xml.py and fuzz_bioc_json.py:
    python fuzz/fuzz_pubtator.py [LIBFUZZER OPTIONS] [CORPUS...]
Each input is read as a file of that format the way annotate reads one: every
document, its passages laid out as one text (`attach`), written back in the
same format, and read as gold annotations. A reader may refuse an input only
with its documented error (FormatError, or UnicodeDecodeError for bytes that
are not UTF-8); any other exception is a finding.
"""
import io
import os
import shlex
import sys
import tempfile

import atheris

# The format modules are imported here, not on first use, to be instrumented.
with atheris.instrument_imports(include=["corvanta_tools", "bioc"]):
    from corvanta_tools.formats import READERS, WRITERS, FormatError
    from corvanta_tools.formats import bioc, pubtator  # noqa: F401
    from corvanta_tools.gold import GoldError, read_gold
    from corvanta_tools.records import Document


def annotated_as_nothing(source):
    """The source given back by `attach` after a recognition that found nothing."""
    return source.attach([Document(source.id, text, []) for _, text in source.passages])


def check(path, format):
    try:
        documents = [annotated_as_nothing(source) for source in READERS[format](path, None)]
    except (FormatError, UnicodeDecodeError):
        return
    WRITERS[format](io.StringIO(), "2025-01-01", documents)
    try:
        read_gold(path, format)
    except GoldError:
        pass


def fuzz(format):
    """Runs libFuzzer, with the options on the command line, on the reader of `format`."""
    # The readers take a path: an unlinked file's, so that nothing is left behind.
    fd, name = tempfile.mkstemp(prefix="corvanta-fuzz-")
    os.unlink(name)
    path = f"/proc/self/fd/{fd}"

    def one_input(data):
        os.ftruncate(fd, 0)
        os.pwrite(fd, data, 0)
        check(path, format)

    # libFuzzer runs its own command again for -merge=1, through the shell.
    command = f"{shlex.quote(sys.executable)} {shlex.quote(sys.argv[0])}"
    atheris.Setup([command, *sys.argv[1:]], one_input)
    atheris.Fuzz()
