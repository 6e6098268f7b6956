"""Where sentences end, for clinical notes and abstracts alike.

A sentence ends at "!" and ";" (as in the library's own rule, a ";" parts the
items of a list: "no ataxia; tremor present"), at "." and "?" before white
space or the text's end, and at a line break. Three exceptions keep a
sentence whole: the period of an abbreviation ("Dr.", "e.g.", "vs."), a
period inside a number ("2.5 mg", no space follows it) and a line break
whose next line goes on in lower case (a hard-wrapped line: "no evidence
of\\nataxia"). A line that starts with a bullet, a capital or a digit starts
a sentence of its own.

All of it is one regular expression, run once over the text.
"""
from __future__ import annotations

import re

__all__ = ["ABBREVIATIONS", "sentence_ends"]

# Lower case; matched in any case. "etc." and "no." are left out: both end
# sentences more often than not.
ABBREVIATIONS = ("dr", "drs", "mr", "mrs", "ms", "prof", "st", "vs", "e.g", "i.e", "al", "fig",
                 "figs", "approx", "ca", "cf", "pt", "pts", "resp", "jr", "sr", "dept", "hx",
                 "sx", "dx", "tx", "yr", "yrs", "mo", "mos", "wk", "wks", "incl", "esp", "max",
                 "min")

# One look-behind per length (a look-behind's alternatives share a width).
_ABBREVIATED = "".join(
    "(?<!" + "|".join(rf"\b{re.escape(a)}\." for a in ABBREVIATIONS if len(a) == n) + ")"
    for n in sorted({len(a) for a in ABBREVIATIONS}))
# One character class first, so that the search skips every other character
# without entering the matcher; the look-arounds then say which candidates end.
_ENDS = re.compile(rf"[!;?.\n](?:(?<=[!;])|(?<=[?.])(?=\s|\Z){_ABBREVIATED}|(?<=\n)(?![ \t]*(?-i:[a-z])))",
                   re.IGNORECASE)


def sentence_ends(text: str) -> list[int]:
    """The indices of the characters that end a sentence, in order."""
    return [match.start() for match in _ENDS.finditer(text)]
