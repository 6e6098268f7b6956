"""The formats annotations are written in and read from.

`WRITERS` maps each stream format (one text on standard output or in one
file) to its writer, `DIRECTORY_WRITERS` each format that can also be a
directory of files to the function listing those files, and `READERS` each
input format besides plain text to its reader. `render` gives a stream
format as one string (what the service answers).

Phenopacket, BioC, PubTator and brat need the `[formats]` extra
(`phenopackets`, `bioc`); their modules are imported on first use, so the
other formats work without it.
"""
from __future__ import annotations

import importlib
import io
import json
from collections.abc import Callable, Iterable, Iterator
from typing import Protocol, TextIO

from corvanta_tools.formats.lines import write_jsonl, write_table, write_tsv
from corvanta_tools.records import Document
from corvanta_tools.report import write_html

__all__ = ["DIRECTORY_WRITERS", "MAX_OFFSET", "READERS", "STREAM_FORMATS", "WRITERS", "FileWriter",
           "FormatError", "Reader", "Source", "Writer", "check_available", "lone_surrogate",
           "offset_value", "render", "shown"]

# The largest offset or length an input may give: BioC's int. Past it an
# offset cannot be real, and is refused rather than carried into the output.
MAX_OFFSET = 2**31 - 1


class FormatError(ValueError):
    """An input that does not parse as its format; the message names the
    file and the position."""

    def __init__(self, path: str, position: str, problem: str) -> None:
        super().__init__(f"{path}: {position}: {problem}")


def offset_value(text: str) -> int | None:
    """The offset written as `text` (decimal digits, surrounding whitespace
    allowed), or None when it is no integer from 0 to MAX_OFFSET."""
    digits = text.strip()
    if not (digits.isascii() and digits.isdigit() and len(digits) <= len(str(MAX_OFFSET))):
        return None
    value = int(digits)
    return value if value <= MAX_OFFSET else None


def lone_surrogate(value: object) -> str | None:
    """The first lone surrogate in a string of `value` (parsed JSON), which
    no text holds but a JSON escape can give; None when there is none."""
    try:
        json.dumps(value, ensure_ascii=False).encode("utf-8")
    except UnicodeEncodeError as error:
        return error.object[error.start:error.end]
    return None


def shown(value: str | None) -> str:
    """`value` quoted for a one-line message, control characters escaped and
    a long one cut short."""
    return repr(value if value is None or len(value) <= 40 else value[:40] + "...")


Writer = Callable[[TextIO, str, Iterable[Document]], None]
"""Writes documents to a text stream, given the release version."""

FileWriter = Callable[[str, Iterable[Document]], Iterator[tuple[str, str]]]
"""Lists the files (path relative to the output directory, content) that
hold the documents, given the release version."""


class Source(Protocol):
    """One input document before recognition: its passages, each with its
    character offset, and `attach`, which takes the annotated passages and
    gives the document back with them (as its format represents it)."""

    @property
    def id(self) -> str: ...

    @property
    def passages(self) -> list[tuple[int, str]]: ...

    def attach(self, annotated: list[Document]) -> Document: ...


Reader = Callable[[str, str | None], Iterator[Source]]
"""The documents of one input file, given its path and its encoding (None:
UTF-8, or what the file declares where the format has it declared), in
order; raises `FormatError` when the file does not parse."""

_EXTRA_MODULES = {"phenopackets", "bioc", "google"}


class _Lazy:
    """A function of a format module, imported on first call."""

    def __init__(self, module: str, name: str) -> None:
        self.module = module
        self.name = name

    def load(self) -> Callable[..., object]:
        try:
            module = importlib.import_module(f"corvanta_tools.formats.{self.module}")
        except ModuleNotFoundError as error:
            if (error.name or "").split(".")[0] not in _EXTRA_MODULES:
                raise
            raise ModuleNotFoundError(
                f"the {self.module} format needs the formats extra: "
                "pip install 'corvanta[formats]'", name=error.name) from None
        function: Callable[..., object] = getattr(module, self.name)
        return function

    def __call__(self, *args: object, **kwargs: object) -> object:
        return self.load()(*args, **kwargs)


def _lazy_writer(module: str, name: str) -> Writer:
    return _Lazy(module, name)  # type: ignore[return-value]


WRITERS: dict[str, Writer] = {
    "tsv": write_tsv,
    "jsonl": write_jsonl,
    "table": write_table,
    "html": write_html,
    "phenopacket": _lazy_writer("phenopacket", "write_jsonl"),
    "bioc-xml": _lazy_writer("bioc", "write_xml"),
    "bioc-json": _lazy_writer("bioc", "write_json"),
    "pubtator": _lazy_writer("pubtator", "write"),
}

DIRECTORY_WRITERS: dict[str, FileWriter] = {
    "phenopacket": _Lazy("phenopacket", "files"),  # type: ignore[dict-item]
    "brat": _Lazy("brat", "files"),  # type: ignore[dict-item]
}

READERS: dict[str, Reader] = {
    "bioc-xml": _Lazy("bioc", "read_xml"),  # type: ignore[dict-item]
    "bioc-json": _Lazy("bioc", "read_json"),  # type: ignore[dict-item]
    "pubtator": _Lazy("pubtator", "read"),  # type: ignore[dict-item]
    "brat": _Lazy("brat", "read"),  # type: ignore[dict-item]
}


def check_available(name: str) -> None:
    """Raises ModuleNotFoundError, saying which extra to install, when the
    writer or reader of format `name` cannot be imported."""
    for table in (WRITERS, DIRECTORY_WRITERS, READERS):
        function = table.get(name)
        if isinstance(function, _Lazy):
            function.load()
            return


STREAM_FORMATS = ("tsv", "jsonl", "phenopacket", "bioc-json", "bioc-xml", "pubtator")


class _Versioned(Protocol):
    @property
    def version(self) -> str: ...


def render(name: str, documents: Iterable[Document], release: _Versioned) -> str:
    """The documents in stream format `name` (one of STREAM_FORMATS; a
    Phenopacket per line), for `release` (a `corvanta_tools.releases.Release`)."""
    if name not in STREAM_FORMATS:
        raise ValueError(f"not a stream format: {name!r} (one of {', '.join(STREAM_FORMATS)})")
    out = io.StringIO()
    WRITERS[name](out, release.version, documents)
    return out.getvalue()
