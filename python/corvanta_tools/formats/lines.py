"""The line-oriented formats: TSV, JSON lines, and an aligned table for
people. Their columns and keys are those of corvanta_tools.fields."""
from __future__ import annotations

import functools
import itertools
import json
from collections.abc import Callable, Iterable, Iterator, Sequence
from json.encoder import encode_basestring
from typing import TextIO

from corvanta_tools.fields import ASSERTION_COLUMNS, FIELDS, TSV_COLUMNS, Field
from corvanta_tools.records import UNMODIFIED, Assertion, Document, Record

__all__ = ["json_line", "json_lines", "json_record", "with_assessed", "write_jsonl", "write_table",
           "write_tsv"]

try:
    from corvanta_tools._lines import json_lines as _json_lines
except ImportError:  # a source tree on the path without the toolkit's compiled helper
    _json_lines = None  # type: ignore[assignment]

# Besides tab and the line breaks, every character that str.splitlines and
# other line-oriented readers take as a line end is escaped.
_TSV_ESCAPES = str.maketrans({"\\": "\\\\", "\t": "\\t", "\n": "\\n", "\r": "\\r", "\v": "\\v",
                              "\f": "\\f", "\x1c": "\\x1c", "\x1d": "\\x1d", "\x1e": "\\x1e",
                              "\x85": "\\x85", "\u2028": "\\u2028", "\u2029": "\\u2029"})
# json.dumps escapes the C0 controls; these three it leaves raw.
_JSON_LINE_ESCAPES = str.maketrans({"\x85": "\\u0085", "\u2028": "\\u2028", "\u2029": "\\u2029"})


def json_line(value: object) -> str:
    """`value` as one line of JSON: no character inside it ends a line for any reader."""
    return json.dumps(value, ensure_ascii=False).translate(_JSON_LINE_ESCAPES)


def _json_text(value: str) -> str:
    escaped = encode_basestring(value)
    return escaped if value.isascii() else escaped.translate(_JSON_LINE_ESCAPES)


class _JsonNames(dict[str, str]):
    """The JSON of strings that repeat from hit to hit (document, term,
    labels), escaped once each; cleared when it grows large."""

    def __missing__(self, value: str) -> str:
        if len(self) >= 65536:
            self.clear()
        escaped = self[value] = _json_text(value)
        return escaped


_tsv_name = functools.lru_cache(maxsize=65536)(lambda value: value.translate(_TSV_ESCAPES))


def _json_assertion(assertion: Assertion) -> str:
    return _UNMODIFIED_JSON if assertion is UNMODIFIED else json_line(assertion.as_json())


# Most mentions are unmodified: their assertion is UNMODIFIED itself.
_UNMODIFIED_JSON = json_line(UNMODIFIED.as_json())


def _json_value(field: Field) -> str:
    """Python source of the JSON text of `field`'s value, a local of its name."""
    value = field.name
    spelled = {"name": f"_names[{value}]", "text": f"_encode({value}) if {value}.isascii() else _json_text({value})",
               "span": f'f"[{{{value}[0]}}, {{{value}[1]}}]"', "flag": f"_BOOLEANS[{value}]",
               "assertion": f"_json_assertion({value})"}[field.kind]
    return f"_NULL if {value} is None else {spelled}" if field.nullable else spelled


def _compiled_json_record() -> Callable[[Record], str]:
    """`json_line(record.as_json())` as one f-string over the record's
    fields, generated from FIELDS so that no dict is built per hit."""
    template = []
    for n, field in enumerate(FIELDS):
        key = ("{{" if n == 0 else ", ") + json.dumps(field.name) + ": "
        if field.kind == "assertion":  # the key is left out with the value
            template.append(f"{{_EMPTY if {field.name} is None else "
                            f"_ASSERTION_KEY + _json_assertion({field.name})}}")
            assertion_key = key
        else:
            template.append(f"{key}{{{_json_value(field)}}}")
    source = (f"def json_record(record):\n"
              f"    {', '.join(f.name for f in FIELDS)} = record\n"
              f"    return f'{''.join(template)}}}}}'\n")
    namespace = {"_names": _JsonNames(), "_json_text": _json_text, "_encode": encode_basestring,
                 "_json_assertion": _json_assertion, "_BOOLEANS": ("false", "true"),
                 "_NULL": "null", "_EMPTY": "", "_ASSERTION_KEY": assertion_key}
    exec(compile(source, "<corvanta_tools.formats.lines>", "exec"), namespace)
    encoder: Callable[[Record], str] = namespace["json_record"]  # type: ignore[assignment]
    return encoder


json_record = _compiled_json_record()
"""One record as its line of JSON: `json_line(record.as_json())`, faster."""


# Each field's key (with what comes before it), kind and nullability, as the
# compiled helper takes them.
_LAYOUT = tuple((("{" if n == 0 else ", ") + json.dumps(field.name) + ": ",
                 {"name": 0, "text": 0, "span": 1, "flag": 2, "assertion": 3}[field.kind],
                 field.nullable) for n, field in enumerate(FIELDS))


def json_lines(records: Sequence[Record]) -> str:
    """The records' lines of JSON (`json_record`), each ended by a line break."""
    if _json_lines is not None:
        try:
            return _json_lines(records, _LAYOUT, _json_assertion)
        except UnicodeEncodeError:  # a lone surrogate, which json.dumps writes as it is
            pass
    return "".join([json_record(record) + "\n" for record in records])


def write_jsonl(out: TextIO, version: str, documents: Iterable[Document]) -> None:
    """One JSON object per hit and line (see Record.as_json)."""
    for document in documents:
        if document.records:
            out.write(json_lines(document.records))


def _tsv_row(record: Record) -> str:
    chars = record.char_span
    start, end = record.byte_span
    return "\t".join((
        _tsv_name(record.document), _tsv_name(record.term_id), _tsv_name(record.label),
        _tsv_name(record.term_label or ""),
        f"{chars[0]}\t{chars[1]}" if chars is not None else "\t", f"{start}\t{end}",
        "true" if record.excluded else "false", record.text.translate(_TSV_ESCAPES)))


def with_assessed(documents: Iterable[Document]) -> tuple[bool, Iterator[Document]]:
    """Whether the records carry ConText's attributes (judged by the first
    document with records), and the documents, all of them still to read."""
    documents = iter(documents)
    held: list[Document] = []
    for document in documents:  # up to the first document with records
        held.append(document)
        if document.records:
            break
    assessed = any(r.assertion is not None for d in held for r in d.records)
    return assessed, itertools.chain(held, documents)


def write_tsv(out: TextIO, version: str, documents: Iterable[Document]) -> None:
    """A header line, then one line per hit. Tabs, line ends and backslashes
    inside fields are written as escapes (\\t, \\n, \\r, \\v, \\f, \\x1c to
    \\x1e, \\x85, \\u2028, \\u2029, \\\\); a span
    that cannot be mapped to characters leaves char_start and char_end empty.
    Records with assertions (all but `--assertion library`) get six more
    columns: the five categories (ASSERTION_COLUMNS) and the modifiers as a
    JSON array (empty cells for a record without one)."""
    assessed, documents = with_assessed(documents)
    out.write("\t".join(TSV_COLUMNS + (ASSERTION_COLUMNS if assessed else ())) + "\n")
    row = _assessed_tsv_row if assessed else _tsv_row
    for document in documents:
        if document.records:
            out.write("\n".join(map(row, document.records)) + "\n")


def _assessed_tsv_row(record: Record) -> str:
    assertion = record.assertion
    if assertion is None:
        return _tsv_row(record) + "\t" * len(ASSERTION_COLUMNS)
    return f"{_tsv_row(record)}\t{_UNMODIFIED_TSV if assertion is UNMODIFIED else _tsv_assertion(assertion)}"


def _tsv_assertion(assertion: Assertion) -> str:
    fields = assertion.as_json()
    flags = ["true" if fields[column] else "false" for column in ASSERTION_COLUMNS[:-1]]
    return "\t".join([*flags, json_line(fields["modifiers"])])


_UNMODIFIED_TSV = _tsv_assertion(UNMODIFIED)


def _span_text(span: tuple[int, int] | None) -> str:
    return "-" if span is None else f"{span[0]}-{span[1]}"


def write_table(out: TextIO, version: str, documents: Iterable[Document]) -> None:
    """A readable table per document, excluded (`Record.negated`) hits
    marked; a document whose records carry assertions gets a "context"
    column naming their categories (such as "negated,family")."""
    out.write(f"HPO release {version}\n")
    for document in documents:
        excluded = sum(r.negated for r in document.records)
        out.write(f"\n{document.id}: {len(document.records)} hits, {excluded} excluded\n")
        assessed = any(r.assertion is not None for r in document.records)
        rows = [(_span_text(r.char_span), _span_text(r.byte_span), r.term_id, r.label,
                 "EXCLUDED" if r.negated else "",
                 *((",".join(r.assertion.flags) if r.assertion is not None else "-",)
                   if assessed else ()),
                 " ".join(r.text.split()))
                for r in document.records]
        header = ("chars", "bytes", "term", "label", "excluded",
                  *(("context",) if assessed else ()), "text")
        widths = [max(len(row[i]) for row in [header, *rows]) for i in range(len(header) - 1)]
        for row in [header, *rows]:
            cells = [cell.ljust(width) for cell, width in zip(row, widths)]
            out.write("  " + "  ".join([*cells, row[-1]]).rstrip() + "\n")
