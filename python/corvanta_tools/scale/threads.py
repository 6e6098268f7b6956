"""Many notes on one matcher from several threads, results in input order.

Recognition runs without the interpreter lock, so threads sharing one matcher
overlap the recognition of one note with the rest (turning hits into records,
which holds the lock) of another. Notes go to the threads in small batches so
that handing them over costs little next to recognizing them, and only a few
batches per thread are in flight: an input of any length runs in bounded
memory.
"""
from __future__ import annotations

import collections
import itertools
from collections.abc import Iterable, Iterator
from concurrent.futures import Future, ThreadPoolExecutor

import corvanta

from corvanta_tools.assessment import DEFAULT_ASSERTION, assessed_all, check_assertion
from corvanta_tools.accuracy.profiles import check_profile
from corvanta_tools.records import Document, TermLabels, annotate
from corvanta_tools.scale.items import Note, note_id_and_text

__all__ = ["annotate_many"]

# Notes per task: a batch takes about a millisecond to recognize, enough to
# hide the cost of a hand-over between threads.
BATCH_SIZE = 16
# Batches in flight per thread: enough to keep every thread busy while the
# caller consumes results, few enough to bound memory.
BATCHES_PER_THREAD = 4


def _annotate_batch(matcher: corvanta.Corvanta, batch: list[tuple[str, str]], longest: bool,
                    release: TermLabels | None, assertion: str, profile: str) -> list[Document]:
    return [annotate(matcher, note_id, text, longest, release, assertion, profile)
            for note_id, text in batch]


def _next_batch(notes: Iterator[tuple[str, str]]) -> tuple[list[tuple[str, str]], Exception | None]:
    """Up to BATCH_SIZE notes, and the error that ended the input early, if any
    (the notes read before it are kept)."""
    batch: list[tuple[str, str]] = []
    try:
        for note in itertools.islice(notes, BATCH_SIZE):
            batch.append(note)
    except Exception as error:
        return batch, error
    return batch, None


def annotate_many(matcher: corvanta.Corvanta, texts: Iterable[Note], threads: int = 1,
                  longest: bool = False, release: TermLabels | None = None,
                  assertion: str = DEFAULT_ASSERTION, profile: str = "exact") -> Iterator[Document]:
    """One `Document` per note of `texts`, in input order, lazily.

    A note is a text (its id is its position, "0", "1", ...), an (id, text)
    pair or a mapping with "text" and "id". `threads` threads share `matcher`;
    1 is a plain loop on the calling thread. `longest`, `release`,
    `assertion` and `profile` are those of `corvanta_tools.records.annotate`
    ("medspacy" assesses the documents in batches on the calling thread).

    The input is read ahead by at most a few batches per thread. When reading
    the input fails, the documents before the failing note are yielded first,
    as a plain loop would, then the error is raised. Closing the generator
    early cancels the batches not started yet and waits for the running ones.
    """
    if threads < 1:
        raise ValueError(f"threads must be at least 1, not {threads}")
    check_assertion(assertion)
    check_profile(profile)
    # medspaCy's pipeline reads many documents at once, and on one thread.
    per_note = "library" if assertion == "medspacy" else assertion
    notes = (note_id_and_text(note, str(i)) for i, note in enumerate(texts))
    if threads == 1:
        documents: Iterator[Document] = (
            annotate(matcher, note_id, text, longest, release, per_note, profile)
            for note_id, text in notes)
    else:
        documents = _annotate_on_threads(matcher, notes, threads, longest, release, per_note,
                                         profile)
    return assessed_all(documents, "medspacy") if assertion == "medspacy" else documents


def _annotate_on_threads(matcher: corvanta.Corvanta, notes: Iterator[tuple[str, str]], threads: int,
                         longest: bool, release: TermLabels | None,
                         assertion: str, profile: str) -> Iterator[Document]:
    window = threads * BATCHES_PER_THREAD
    pending: collections.deque[Future[list[Document]]] = collections.deque()
    with ThreadPoolExecutor(threads, thread_name_prefix="corvanta") as pool:
        try:
            while True:
                batch, failure = _next_batch(notes)
                last = failure is not None or len(batch) < BATCH_SIZE
                if batch:
                    pending.append(pool.submit(_annotate_batch, matcher, batch, longest, release,
                                               assertion, profile))
                while pending and (last or len(pending) >= window):
                    yield from pending.popleft().result()
                if last:
                    break
        finally:
            for future in pending:
                future.cancel()
    if failure is not None:
        raise failure
