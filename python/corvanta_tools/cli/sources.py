"""The input side of `corvanta annotate`: each input file read in its
format, its documents annotated passage by passage, and, with --keep-going,
inputs that cannot be read reported and skipped."""
from __future__ import annotations

import collections
import sys
from collections.abc import Iterable, Iterator

import corvanta

from corvanta_tools.assessment import DEFAULT_ASSERTION
from corvanta_tools.cli.errors import EXIT_INPUT, CliError
from corvanta_tools.cli.inputs import STDIN, display_name, expand_inputs, read_input
from corvanta_tools.formats import READERS, FormatError, Source
from corvanta_tools.formats.text import TextSource
from corvanta_tools.records import Document, TermLabels
from corvanta_tools.scale import annotate_many

__all__ = ["INPUT_FORMATS", "Skips", "annotated_sources", "expanded", "read_sources"]

INPUT_FORMATS = ("text", *sorted(READERS))


class Skips:
    """The inputs a run skipped; each is reported on standard error when it is."""

    def __init__(self, keep_going: bool) -> None:
        self.keep_going = keep_going
        self.count = 0

    def skip(self, error: CliError) -> None:
        """Reports the failed input and counts it, or, without --keep-going, raises."""
        if not self.keep_going:
            raise error
        self.count += 1
        sys.stdout.flush()
        print(f"corvanta: error: {error} (skipped)", file=sys.stderr)


def expanded(names: list[str], pattern: str, skips: Skips, contained: bool = False) -> list[str]:
    """The input files the names stand for (see `expand_inputs`); with
    --keep-going a missing one (or a directory without matching files) goes
    to `skips`, without it the run fails before any work."""
    if not skips.keep_going:
        return expand_inputs(names, pattern, contained)
    inputs = []
    for name in names:
        try:
            inputs.extend(expand_inputs([name], pattern, contained))
        except CliError as error:
            skips.skip(error)
    return inputs


def _read(name: str, input_format: str, encoding: str | None) -> list[Source]:
    if input_format == "text":
        return [TextSource("<stdin>" if name == STDIN else display_name(name),
                           read_input(name, encoding or "utf-8"))]
    shown = display_name(name)
    try:
        return list(READERS[input_format](name, encoding))
    except FormatError as error:
        raise CliError(EXIT_INPUT, f"cannot read {error}") from None
    except OSError as error:
        raise CliError(EXIT_INPUT, f"cannot read {shown}: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise CliError(EXIT_INPUT, f"cannot read {shown}: not {encoding or 'UTF-8'} text "
                                   f"({error.reason} at byte {error.start}); "
                                   "see --encoding") from None


def read_sources(inputs: Iterable[str], input_format: str, encoding: str | None,
                 skips: Skips) -> Iterator[Source]:
    """The documents of every input, in order; an input that cannot be read
    goes to `skips` whole."""
    for name in inputs:
        try:
            sources = _read(name, input_format, encoding)
        except CliError as error:
            skips.skip(error)
            continue
        yield from sources


def annotated_sources(matcher: corvanta.Corvanta, sources: Iterable[Source], jobs: int,
                      longest: bool, release: TermLabels | None,
                      assertion: str = DEFAULT_ASSERTION,
                      profile: str = "exact") -> Iterator[Document]:
    """Each source annotated passage by passage (on `jobs` threads), each
    passage's records given their `assertion` status, and given back by the
    source's `attach`, in order."""
    pending: collections.deque[tuple[Source, int]] = collections.deque()  # with its passage count

    def notes() -> Iterator[tuple[str, str]]:
        for source in sources:
            passages = source.passages
            pending.append((source, len(passages)))
            # A document without text still takes one (empty) note, so that
            # every source gets its turn below.
            for _, text in passages or [(0, "")]:
                yield source.id, text

    parts: list[Document] = []
    for part in annotate_many(matcher, notes(), jobs, longest, release, assertion, profile):
        parts.append(part)
        source, wanted = pending[0]
        if len(parts) >= wanted:
            pending.popleft()
            yield source.attach(parts[:wanted])
            parts = []
