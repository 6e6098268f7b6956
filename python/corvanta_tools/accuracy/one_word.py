"""One-word clustering hits: kept only where the word is the label's word.

The clustering stage matches a single text word to any label one of whose
variants has that word's stem alone: a label whose other words are optional
modifiers ("symptoms" to Atypical behavior), a label whose stem the word
merely shares ("into" to Intoe, "vaginal" to Vaginitis), a longer label
reduced to one word by the index. Such a hit is kept only when its word is the
label's one content word up to inflection (plural, verb endings) and
British/American spelling. A hit whose text equals its surface is always kept,
so exact hits never go.
"""
from __future__ import annotations

import functools
import re

__all__ = ["kept_one_word"]

_WORD = re.compile(r"[^\W_]+")
# The label table's stop words and the concept index's optional modifier words:
# neither is needed for a label's words to be found.
_STOP_WORDS = frozenset(
    "of in at or on by no an be is do the and but are has had did have been done being having "
    "because".split())
_MODIFIER_WORDS = frozenset(
    "localized generalized unilateral multiple paroxysmal recurrent proximal morphology "
    "physiology level proportion electroretinogram activity count ossification potentials ratio "
    "glycosylation behavior behaviour".split())
# Spelling variants that one word may take: British and American.
_SPELLINGS = (("aemia", "emia"), ("oedema", "edema"), ("oesophag", "esophag"), ("haem", "hem"),
              ("paed", "ped"), ("our", "or"), ("tre", "ter"), ("ae", "e"), ("oe", "e"))
# Inflectional endings, longest first, with what replaces each to give the base.
_ENDINGS = (("ies", ("y",)), ("ves", ("f", "fe")), ("ses", ("sis", "s")),
            ("xes", ("x",)), ("ches", ("ch",)), ("shes", ("sh",)),
            ("es", ("", "e", "is")), ("ae", ("a",)), ("ia", ("ium",)),
            ("i", ("us",)), ("a", ("um", "on")), ("s", ("",)))


@functools.lru_cache(maxsize=65536)
def _bases(word: str) -> frozenset[str]:
    """The forms `word` may be an inflection of, itself included, spelt one way."""
    for british, american in _SPELLINGS:
        word = word.replace(british, american)
    forms = {word}
    for ending, replacements in _ENDINGS:
        stem = word[:-len(ending)]
        if word.endswith(ending) and len(stem) >= 3:
            forms.update(stem + r for r in replacements)
    return frozenset(forms)


@functools.lru_cache(maxsize=65536)
def _content_word(surface: str) -> str | None:
    """The one word of `surface` that is neither a stop word nor an optional
    modifier, lower-cased; None when it has none or several."""
    words = [w for w in _WORD.findall(surface.lower()) if w not in _STOP_WORDS]
    return words[0] if len(words) == 1 else None


@functools.lru_cache(maxsize=65536)
def kept_one_word(word: str, surface: str) -> bool:
    """Whether a hit on the single word `word` (letters and digits) may stand
    for the label-table surface `surface` that it matched."""
    word = word.lower()
    content = _content_word(surface)
    if content is None:
        return word == surface.lower()
    return word == content or not _bases(word).isdisjoint(_bases(content))
