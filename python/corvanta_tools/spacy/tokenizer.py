"""The clinical pipeline's tokenizer: medspaCy's ([medspacy] extra), keeping
the text it read.

`Doc.text` rebuilds the text token by token, which cost the "corvanta"
component more than recognizing the text does. This tokenizer leaves the
text it was given in the Doc's user data, where the component takes it out
again (a Doc that never reaches the component keeps it there). Everything
else, serialization included, is medspaCy's tokenizer's.
"""
# No `from __future__ import annotations`: spaCy's registry reads the annotations.
from collections.abc import Callable, Iterable, Iterator
from typing import Any

from spacy.language import Language
from spacy.tokens import Doc
from spacy.util import registry

__all__ = ["TEXT_KEY", "TextKeepingTokenizer", "text_keeping_tokenizer"]

TEXT_KEY = "corvanta_text"
NAME = "corvanta.TextKeepingTokenizer.v1"


class TextKeepingTokenizer:
    """A tokenizer that stores each text in `doc.user_data[TEXT_KEY]`."""

    def __init__(self, tokenizer: Callable[[str], Doc]) -> None:
        self.tokenizer = tokenizer

    def __call__(self, text: str) -> Doc:
        doc = self.tokenizer(text)
        doc.user_data[TEXT_KEY] = text
        return doc

    def pipe(self, texts: Iterable[str], batch_size: int = 1000) -> Iterator[Doc]:
        for text in texts:
            yield self(text)

    def __getattr__(self, name: str) -> Any:
        # to_disk, from_disk, to_bytes, from_bytes, rules, explain, ...
        return getattr(self.tokenizer, name)


@registry.tokenizers(NAME)  # type: ignore[untyped-decorator]
def text_keeping_tokenizer() -> Callable[[Language], TextKeepingTokenizer]:
    """medspaCy's tokenizer over the pipeline's vocabulary, keeping texts."""
    def create(nlp: Language) -> TextKeepingTokenizer:
        from medspacy.custom_tokenizer import (  # type: ignore[import-untyped, import-not-found, unused-ignore]
            create_medspacy_tokenizer)

        # medspaCy's rules start from the language's default tokenizer.
        nlp.tokenizer = registry.tokenizers.get("spacy.Tokenizer.v1")()(nlp)
        return TextKeepingTokenizer(create_medspacy_tokenizer(nlp))
    return create


def text_of(doc: Doc) -> str:
    """The Doc's text: the one its tokenizer kept (taken out), else Doc.text."""
    text = doc.user_data.pop(TEXT_KEY, None)
    return doc.text if text is None else str(text)
