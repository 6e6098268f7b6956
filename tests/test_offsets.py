"""CharOffsets against the plain per-character definition, on random texts
mixing ASCII runs with characters whose lower-casing changes length."""
import itertools
import random
import unicodedata

from corvanta_tools import CharOffsets

# ASCII, two-byte, growing (U+0130), shrinking (KELVIN SIGN), expanding
# (U+FB03), astral, final-sigma and unassigned characters.
ALPHABET = ["a", "b", " ", "\u00e9", "\u0130", "\u212a", "\ufb03", "\U0001d4d0", "\u03a3",
            "\u0378", "\u01c5"]


def reference(text, span):
    """Character i starts at the sum of the lower-cased UTF-8 lengths before
    it; nothing at or after an unassigned character is mapped."""
    bounds = [0]
    for char in text:
        if unicodedata.category(char) == "Cn":
            break
        bounds.append(bounds[-1] + len(char.lower().encode("utf-8")))
    start, end = span
    if start in bounds and end in bounds and start <= end:
        return bounds.index(start), bounds.index(end)
    return None


def test_random_texts_agree_with_the_definition():
    rng = random.Random(7)
    for _ in range(2000):
        text = "".join(rng.choice(ALPHABET + ["a"] * 6) for _ in range(rng.randint(0, 14)))
        offsets = CharOffsets(text)
        limit = len(text.lower().encode("utf-8")) + 2
        for span in itertools.combinations_with_replacement(range(-1, limit), 2):
            assert offsets.char_span(span) == reference(text, span), (text, span)
