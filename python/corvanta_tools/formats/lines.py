"""The line-oriented formats: TSV, JSON lines, and an aligned table for
people. Their columns and keys are those of corvanta_tools.fields."""
from __future__ import annotations

import functools
import itertools
import json
from collections.abc import Callable, Iterable, Iterator
from json.encoder import encode_basestring
from typing import TextIO

from corvanta_tools.fields import ASSERTION_COLUMNS, FIELDS, TSV_COLUMNS
from corvanta_tools.records import Document, Record

__all__ = ["json_line", "json_record", "with_assessed", "write_jsonl", "write_table", "write_tsv"]

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
    return encode_basestring(value).translate(_JSON_LINE_ESCAPES)


# A field that repeats from hit to hit (document, term, labels), escaped once.
_json_name = functools.lru_cache(maxsize=65536)(_json_text)
_tsv_name = functools.lru_cache(maxsize=65536)(lambda value: value.translate(_TSV_ESCAPES))


def _json_expression(kind: str, nullable: bool, value: str) -> str:
    """Python source of the JSON text of one field's `value` (an expression)."""
    spelled = {"name": f"_json_name({value})", "text": f"_json_text({value})",
               "span": f"f'[{{{value}[0]}}, {{{value}[1]}}]'",
               "flag": f"('true' if {value} else 'false')"}[kind]
    return f"('null' if {value} is None else {spelled})" if nullable else spelled


def _compiled_json_record() -> Callable[[Record], str]:
    """`json_line(record.as_json())` as one expression over the record's
    fields, generated from FIELDS so that no dict is built per hit."""
    parts = []
    for n, field in enumerate(FIELDS):
        key = ("{" if n == 0 else ", ") + json.dumps(field.name) + ": "
        value = f"record.{field.name}"
        if field.kind == "assertion":  # omitted without one
            parts.append(f"('' if {value} is None else {key!r} + json_line({value}.as_json()))")
        else:
            parts.append(repr(key))
            parts.append(_json_expression(field.kind, field.nullable, value))
    source = f"def json_record(record):\n    return ''.join(({', '.join(parts)}, '}}'))\n"
    namespace = {"_json_name": _json_name, "_json_text": _json_text, "json_line": json_line}
    exec(compile(source, "<corvanta_tools.formats.lines>", "exec"), namespace)
    encoder: Callable[[Record], str] = namespace["json_record"]  # type: ignore[assignment]
    return encoder


json_record = _compiled_json_record()
"""One record as its line of JSON: `json_line(record.as_json())`, faster."""


def write_jsonl(out: TextIO, version: str, documents: Iterable[Document]) -> None:
    """One JSON object per hit and line (see Record.as_json)."""
    for document in documents:
        out.writelines(json_record(record) + "\n" for record in document.records)


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
        out.writelines(row(record) + "\n" for record in document.records)


def _assessed_tsv_row(record: Record) -> str:
    assertion = record.assertion
    if assertion is None:
        return _tsv_row(record) + "\t" * len(ASSERTION_COLUMNS)
    fields = assertion.as_json()
    flags = ["true" if fields[column] else "false" for column in ASSERTION_COLUMNS[:-1]]
    return "\t".join([_tsv_row(record), *flags, json_line(fields["modifiers"])])


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
