"""Many notes on threads give exactly the records of the command line, lazily."""
import itertools

import pytest

from corvanta_tools import main
from corvanta_tools.releases import Release
from corvanta_tools.scale import annotate_many
from corvanta_tools.scale.threads import BATCH_SIZE
from scale_notes import annotated_jsonl, collection  # noqa: F401 (a fixture)


@pytest.mark.parametrize("threads", [1, 2])
def test_threads_give_the_command_line_records(collection, small, small_release, threads):
    notes, expected = collection
    documents = annotate_many(small, notes, threads=threads, release=Release(small_release))
    assert annotated_jsonl(documents) == expected


def test_jobs_keep_the_command_line_output(collection, small_release, tmp_path):
    notes, expected = collection
    out = tmp_path / "jobs.jsonl"
    assert main(["annotate", "--hpo", small_release, "--format", "jsonl", "--jobs", "2", "-o", str(out),
                 *(path for path, _ in notes)]) == 0
    assert out.read_text(encoding="utf-8") == expected


@pytest.mark.parametrize("notes, ids", [
    (["Seizures.", "Ataxia."], ["0", "1"]),
    ([("a", "Seizures."), (7, "Ataxia.")], ["a", "7"]),
    ([{"id": "x", "text": "Seizures."}, {"text": "Ataxia."}], ["x", "1"]),
])
@pytest.mark.parametrize("threads", [1, 3])
def test_document_ids(small, notes, ids, threads):
    assert [d.id for d in annotate_many(small, notes, threads=threads)] == ids


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("good", [0, 5, BATCH_SIZE, 3 * BATCH_SIZE + 1])
def test_an_input_failure_comes_after_the_notes_before_it(small, threads, good):
    def notes():
        yield from (f"Seizures {i}." for i in range(good))
        raise OSError("unreadable")

    documents = annotate_many(small, notes(), threads=threads)
    assert [d.id for d in itertools.islice(documents, good)] == [str(i) for i in range(good)]
    with pytest.raises(OSError, match="unreadable"):
        next(documents)


# However far the consumer has come, the notes read stay a bounded distance
# ahead of it (a few hundred here, far below the cap).
@pytest.mark.parametrize("threads", [2, 4])
@pytest.mark.parametrize("taken", [3, 600])
def test_reads_ahead_a_bounded_window(small, threads, taken):
    read = itertools.count()
    endless = (f"Ataxia {next(read)}." for _ in itertools.count())
    documents = annotate_many(small, endless, threads=threads)
    first = list(itertools.islice(documents, taken))
    documents.close()
    assert [d.id for d in first] == [str(i) for i in range(taken)]
    assert next(read) - taken < 1000


@pytest.mark.parametrize("threads", [0, -1])
def test_threads_must_be_positive(small, threads):
    with pytest.raises(ValueError, match="at least 1"):
        annotate_many(small, ["Ataxia."], threads=threads)
