"""The visual report: one self-contained HTML page (no scripts, no external
resources) with every document's text, its hits highlighted, and a summary
table of the terms found in it.

With assertions (the default; none with `--assertion library`) a hit counts
as excluded when its assertion negates it (as a Phenopacket's `excluded`),
its highlight shows the other categories (uncertain dashed, family in
another colour, historical and hypothetical in italics), its hover title
names the categories and the triggers behind them, and the summary table
gets a "ConText" column: per category, its mentions and their triggers."""
from __future__ import annotations

from collections.abc import Iterable, Iterator, Sequence
from typing import TextIO

from corvanta_tools.fields import CATEGORIES
from corvanta_tools.markup import html_attribute, html_text
from corvanta_tools.records import Document, Record

__all__ = ["HPO_BROWSER", "STYLE", "term_url", "write_html"]

HPO_BROWSER = "https://hpo.jax.org/browse/term/"

STYLE = """
body { font: 15px/1.5 system-ui, sans-serif; color: #1f2328; max-width: 64rem;
       margin: 2rem auto; padding: 0 1rem; }
h1 { font-size: 1.5rem; margin-bottom: .25rem; }
h2 { font-size: 1.15rem; margin: 2.5rem 0 .25rem; word-break: break-all; }
.meta, .counts, footer { color: #57606a; margin-top: 0; }
.text { white-space: pre-wrap; font-family: ui-monospace, monospace; font-size: 14px;
        background: #f6f8fa; border: 1px solid #d0d7de; border-radius: 6px; padding: 1rem; }
a.hit { color: inherit; text-decoration: none; }
.hit { background: #ffd86b; border-bottom: 2px solid #c69200; border-radius: 2px; }
.hit.overlap { background: #ffb547; }
.hit.excluded { background: #dde3ea; border-bottom: 2px solid #57606a;
                text-decoration: line-through; }
.hit.uncertain { border: 2px dashed #9a6700; border-radius: 3px; }
.hit.family { background: #b6e3ff; border-bottom-color: #0969da; }
.hit.historical, .hit.hypothetical { font-style: italic; }
a.hit:hover { outline: 2px solid #0969da; }
table { border-collapse: collapse; margin-top: 1rem; width: 100%; }
caption { text-align: left; font-weight: 600; padding-bottom: .25rem; }
th, td { text-align: left; padding: .25rem .6rem; border-bottom: 1px solid #d0d7de;
         vertical-align: top; }
th.count, td.count { text-align: right; }
tr.excluded td { color: #57606a; }
.legend .hit { padding: 0 .3rem; margin-right: .3rem; }
.bidi { font-size: 75%; color: #cf222e; border: 1px solid #cf222e; border-radius: 3px;
        padding: 0 .15rem; margin: 0 .1rem; }
"""


_LEGEND = ('<span class="hit">present</span><span class="hit excluded">excluded (negated)</span>'
          '<span class="hit uncertain">uncertain</span><span class="hit family">family member</span>'
          '<span class="hit historical">historical or hypothetical</span>')


def term_url(term_id: str) -> str:
    """The term's page in the HPO browser."""
    return HPO_BROWSER + term_id


# A hit that maps onto the text, keyed by its character span.
Placed = tuple[tuple[int, int], Record]


def _describe(record: Record) -> str:
    described = f"{record.term_id} {record.label}" + (" (excluded)" if record.excluded else "")
    assertion = record.assertion
    if assertion is None:
        return described
    context = ", ".join(assertion.flags) or "none"
    return described + f"; ConText: {context}" + (
        f" ({assertion.triggers})" if assertion.modifiers else "")


# The category of ConText's triggers behind each attribute, by its name.
_TRIGGER_CATEGORIES = {field[3:]: category for category, field in CATEGORIES.items()}


def _context_summary(mentions: Sequence[Record]) -> str:
    """Per attribute ConText set on some mention: how many, and their triggers."""
    counts: dict[str, int] = {}
    triggers: dict[str, dict[str, None]] = {}
    for record in mentions:
        if record.assertion is None:
            continue
        for flag in record.assertion.flags:
            counts[flag] = counts.get(flag, 0) + 1
            triggers.setdefault(flag, {}).update(dict.fromkeys(
                m.text for m in record.assertion.modifiers if m.category == _TRIGGER_CATEGORIES[flag]))
    return "; ".join(f"{flag} {count}" + (f" ({', '.join(triggers[flag])})" if triggers[flag] else "")
                     for flag, count in counts.items())


# The categories a highlight shows, beyond negation (shown as "excluded").
_SHOWN_CATEGORIES = ("uncertain", "historical", "hypothetical", "family")


def _status_classes(records: Sequence[Record]) -> list[str]:
    """The categories every one of the records' assertions sets, of _SHOWN_CATEGORIES."""
    flags = [set(r.assertion.flags) if r.assertion is not None else set() for r in records]
    return [c for c in _SHOWN_CATEGORIES if all(c in f for f in flags)]


def _segments(text: str, records: Sequence[Record]) -> Iterator[tuple[str, list[Placed]]]:
    """Cuts the text at every hit boundary; yields each piece with the hits
    that cover it, so overlapping and nested hits need no nested markup."""
    placed = sorted(((r.char_span, r) for r in records if r.char_span is not None),
                    key=lambda p: p[0])
    cuts = sorted({0, len(text)}.union(*(span for span, _ in placed)))
    active: list[Placed] = []
    upcoming = 0
    for begin, end in zip(cuts, cuts[1:]):
        while upcoming < len(placed) and placed[upcoming][0][0] <= begin:
            active.append(placed[upcoming])
            upcoming += 1
        active = [p for p in active if p[0][1] > begin]
        yield text[begin:end], list(active)


def _highlight(piece: str, covering: list[Placed]) -> str:
    if not covering:
        return html_text(piece)
    _, innermost = min(covering, key=lambda p: p[0][1] - p[0][0])
    records = [r for _, r in covering]
    classes = ["hit"]
    if len(records) > 1:
        classes.append("overlap")
    if all(r.negated for r in records):
        classes.append("excluded")
    classes.extend(_status_classes(records))
    title = "\n".join(_describe(r) for r in records)
    terms = " ".join(dict.fromkeys(r.term_id for r in records))
    return (f'<a class="{" ".join(classes)}" href="{html_attribute(term_url(innermost.term_id))}" '
            f'title="{html_attribute(title)}" data-terms="{html_attribute(terms)}">{html_text(piece)}</a>')


def _summary(records: Sequence[Record]) -> str:
    by_term: dict[str, list[Record]] = {}
    for record in records:
        by_term.setdefault(record.term_id, []).append(record)
    assessed = any(r.assertion is not None for r in records)
    rows = []
    for term_id, mentions in by_term.items():
        excluded = sum(r.negated for r in mentions)
        context = f"<td>{html_text(_context_summary(mentions))}</td>" if assessed else ""
        labels = ", ".join(dict.fromkeys(r.label for r in mentions))
        texts = "; ".join(dict.fromkeys(" ".join(r.text.split()) for r in mentions))
        css = ' class="excluded"' if excluded == len(mentions) else ""
        rows.append(f'<tr{css}><td><a href="{html_attribute(term_url(term_id))}">{html_text(term_id)}</a></td>'
                    f"<td>{html_text(labels)}</td><td class=\"count\">{len(mentions)}</td>"
                    f"<td class=\"count\">{excluded}</td>{context}<td>{html_text(texts)}</td></tr>")
    return ('<table class="summary"><caption>Terms in this document</caption>'
            "<thead><tr><th>Term</th><th>Label</th><th class=\"count\">Mentions</th>"
            "<th class=\"count\">Excluded</th>" + ("<th>ConText</th>" if assessed else "") +
            "<th>Text</th></tr></thead><tbody>\n" + "\n".join(rows) + "\n</tbody></table>")


def _section(number: int, document: Document, excluded: int) -> str:
    records = document.records
    terms = len({r.term_id for r in records})
    parts = [f'<section class="document" id="doc-{number}">',
             f"<h2>{html_text(document.id)}</h2>",
             f'<p class="counts">{len(records)} hits, {excluded} excluded, {terms} distinct terms</p>',
             '<div class="text">' + "".join(_highlight(p, c) for p, c in _segments(document.text, records))
             + "</div>"]
    unplaced = [r for r in records if r.char_span is None]
    if unplaced:
        parts.append(f'<p class="unplaced">Not highlighted, because their byte offsets do not map '
                     f'onto characters of this text: {html_text("; ".join(map(_describe, unplaced)))}</p>')
    parts.append(_summary(records) if records else "<p>No HPO concepts found.</p>")
    parts.append("</section>\n")
    return "\n".join(parts)


def write_html(out: TextIO, version: str, documents: Iterable[Document]) -> None:
    """Writes the page, one document section at a time."""
    out.write('<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
              '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
              f"<title>HPO concepts found by corvanta</title>\n<style>{STYLE}</style>\n</head>\n<body>\n"
              "<header><h1>HPO concepts found by corvanta</h1>\n"
              f'<p class="meta">HPO release {html_text(version)}</p>\n'
              f'<p class="legend">{_LEGEND}'
              "Hover over a highlight for its term; click it to open the term in the HPO browser.</p>"
              "</header>\n<main>\n")
    count = hits = excluded = 0
    for count, document in enumerate(documents, start=1):
        negated = sum(r.negated for r in document.records)
        hits += len(document.records)
        excluded += negated
        out.write(_section(count, document, negated))
    out.write(f"</main>\n<footer><p>{count} documents, {hits} hits, {excluded} excluded.</p></footer>\n"
              "</body>\n</html>\n")
