"""What a service process holds once started (one matcher, one release) and
the work behind each endpoint, free of HTTP."""
from __future__ import annotations

import functools
import json
import threading
import time
from collections.abc import Callable
from dataclasses import dataclass

import corvanta

from corvanta_tools.assessment import assessed_all
from corvanta_tools.formats import render
from corvanta_tools.records import (Assertion, Document, Modifier, Record, document_of_hits,
                                    document_of_profile_hits, profile_recognition)
from corvanta_tools.registry import matcher_and_release
from corvanta_tools.releases import Release
from corvanta_tools.serve.payload import (AnnotateRequest, AssertionIn, Format, RenderRequest,
                                          RequestError)

__all__ = ["MEDIA_TYPES", "Service"]

_MEDSPACY_LOCK = threading.Lock()

MEDIA_TYPES: dict[str, str] = {
    "json": "application/json",
    "phenopacket": "application/x-ndjson",
    "bioc-json": "application/json",
    "pubtator": "text/plain; charset=utf-8",
    "tsv": "text/tab-separated-values; charset=utf-8",
}


def _record_json(record: Record) -> dict[str, object]:
    fields = record.as_json()
    del fields["document"]  # the enclosing document says it
    return fields


def _with_medspacy(documents: list[Document]) -> list[Document]:
    """The documents with their records' assertions by medspaCy ([medspacy] extra)."""
    try:
        with _MEDSPACY_LOCK:  # one spaCy pipeline, not made for concurrent use
            return list(assessed_all(documents, "medspacy"))
    except ImportError as error:
        raise RequestError(501, f"assertion medspacy is not available here ({error})") from None


def _assertion(given: AssertionIn | None) -> Assertion | None:
    if given is None:
        return None
    return Assertion(given.is_negated, given.is_uncertain, given.is_historical,
                     given.is_hypothetical, given.is_family, tuple(
                         Modifier(m.category, m.text, (m.char_span[0], m.char_span[1]))
                         for m in given.modifiers))


def _render(format: str, documents: list[Document], release: Release) -> str:
    try:
        return render(format, documents, release)
    except ImportError as error:  # the format's library: the [formats] extra
        raise RequestError(501, f"format {format} is not available here: {error}") from None


def _too_many_hits(max_hits: int) -> RequestError:
    # The answer's size and the time to write it grow with its hits, not
    # with the body: a body of one short word repeated holds a hit per word.
    return RequestError(413, f"the answer would hold more than {max_hits} hits; send fewer or "
                             "shorter texts")


@dataclass(frozen=True)
class Service:
    """The matcher and release one process serves, and how long building took."""

    matcher: corvanta.Corvanta
    release: Release
    build_seconds: float
    profile: str = "exact"  # of requests that name none

    @classmethod
    def load(cls, release_path: str, profile: str = "exact") -> Service:
        """Builds the matcher; OSError, ReleaseError (or the extension's
        invariant failure) when the release is unusable."""
        started = time.perf_counter()
        matcher, release = matcher_and_release(release_path)
        return cls(matcher, release, time.perf_counter() - started, profile)

    @property
    def version(self) -> str:
        return self.matcher.version()

    def release_info(self) -> dict[str, object]:
        return {"version": self.version, "hp_terms": self.release.term_count}

    def annotate(self, request: AnnotateRequest, max_hits: int) -> list[Document]:
        """The documents of the request with their records; 413 as soon as
        they hold more than `max_hits` hits, before any record is made of
        the hits of the document that passes it."""
        profile = request.profile or self.profile
        documents = []
        hits_left = max_hits
        for name, text in request.named_documents():
            count, document = self._recognised(name, text, request.longest, profile)
            hits_left -= count
            if hits_left < 0:
                raise _too_many_hits(max_hits)
            documents.append(document())
        if request.assertion == "medspacy":
            return _with_medspacy(documents)
        return list(assessed_all(documents, request.assertion))

    def _recognised(self, name: str, text: str, longest: bool,
                    profile: str) -> tuple[int, Callable[[], Document]]:
        """The number of hits of `text`, and what makes its document of them."""
        if profile == "exact":
            hits = self.matcher.map_text_longest(text) if longest else self.matcher.map_text(text)
            return len(hits), functools.partial(document_of_hits, name, text, hits, self.release)
        found = profile_recognition(self.matcher, self.release, profile)(text, longest)
        return len(found), functools.partial(document_of_profile_hits, name, text, found,
                                             self.release)

    @staticmethod
    def reviewed(request: RenderRequest, max_hits: int) -> list[Document]:
        """The documents of a review, records as the reviewer left them."""
        if sum(len(d.records) for d in request.documents) > max_hits:
            raise _too_many_hits(max_hits)
        return [Document(d.id, d.text, [
            Record(d.id, r.term_id, r.label, r.term_label,
                   None if r.char_span is None else (r.char_span[0], r.char_span[1]),
                   (r.byte_span[0], r.byte_span[1]), r.excluded, r.text, _assertion(r.assertion))
            for r in d.records])
            for d in request.documents]

    def answer(self, documents: list[Document], format: Format) -> bytes:
        """The documents written in `format` (see MEDIA_TYPES)."""
        if format == "json":
            body = {"release": self.version,
                    "documents": [{"id": d.id, "records": [_record_json(r) for r in d.records]}
                                  for d in documents]}
            return json.dumps(body, ensure_ascii=False).encode("utf-8")
        return _render(format, documents, self.release).encode("utf-8")
