"""Which assertion status annotated records get, by name:

- "context" (the default): the toolkit's own ConText (corvanta_tools.context),
  no spaCy needed;
- "medspacy": medspaCy's ConText (corvanta_tools.spacy.assertions.with_assertions),
  the [medspacy] extra;
- "library": none; records keep only the extension's `excluded` flag.

    document = assessed(annotate(matcher, "n", text, assertion="library"), "medspacy")
"""
from __future__ import annotations

from collections.abc import Iterable, Iterator

from corvanta_tools.records import Document

__all__ = ["ASSERTIONS", "DEFAULT_ASSERTION", "assessed", "assessed_all", "check_assertion"]

ASSERTIONS = ("context", "medspacy", "library")
DEFAULT_ASSERTION = "context"


def check_assertion(assertion: str) -> None:
    """Raises ValueError for an unknown name, ModuleNotFoundError (naming the
    extra to install) when the route's packages are missing."""
    if assertion not in ASSERTIONS:
        raise ValueError(f"unknown assertion {assertion!r}: choose one of {', '.join(ASSERTIONS)}")
    if assertion == "medspacy":
        try:
            import corvanta_tools.spacy.clinical  # noqa: F401
        except ModuleNotFoundError as error:
            raise ModuleNotFoundError(
                f"assertion 'medspacy' needs the medspacy extra (pip install "
                f"'corvanta[medspacy]'): {error}", name=error.name) from None


def assessed(document: Document, assertion: str) -> Document:
    """The document with its records' assertions filled as `assertion` says."""
    if assertion == "context":
        from corvanta_tools.context import assess

        return assess(document)
    (result,) = assessed_all([document], assertion)
    return result


def assessed_all(documents: Iterable[Document], assertion: str) -> Iterator[Document]:
    """The documents, lazily, each with its records' assertions filled as
    `assertion` says (medspaCy reads them in batches)."""
    check_assertion(assertion)
    if assertion == "context":
        from corvanta_tools.context import assess_all

        return assess_all(documents)
    if assertion == "medspacy":
        from corvanta_tools.spacy.assertions import with_assertions

        return with_assertions(documents)
    return iter(documents)
