"""Notes on Spark in local[2] give exactly the records of the command line.
The session is conftest's `spark`, one for the run: starting the JVM is the slow part."""
import importlib.util
import os
import pathlib
import shutil

import pytest

from scale_notes import as_jsonl, collection, frame_records, table_jsonl  # noqa: F401 (a fixture)

if os.environ.get("CORVANTA_SANITIZED") == "1":
    pytest.skip("Spark's JVM and Python workers are left out of the sanitized run", allow_module_level=True)
if importlib.util.find_spec("pyspark") is None or importlib.util.find_spec("pyarrow") is None:
    pytest.skip("pyspark and pyarrow are not installed (scripts/test-extras.sh installs them)",
                allow_module_level=True)
if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
    pytest.skip("no Java runtime (scripts/test-extras.sh installs default-jre-headless)",
                allow_module_level=True)


@pytest.fixture(scope="module")
def notes_frame(spark, collection):
    import pandas

    notes, _ = collection
    table = pandas.DataFrame(notes, columns=["path", "note"])
    table.loc[[0, 60], "note"] = None  # missing notes have no hits
    return spark.createDataFrame(table).repartition(2)


def without(expected, paths):
    return table_jsonl("".join(line + "\n" for line in expected.splitlines()
                               if not any(f'"document": "{path}"' in line for path in paths)))


def by_document(records):
    """Records grouped by note, each note's in their order (Spark keeps the
    order within a note, not the order of the notes across partitions)."""
    groups = {}
    for record in records:
        groups.setdefault(record["document"], []).append(record)
    return groups


def test_spark_gives_the_command_line_records(collection, small_release, notes_frame):
    from corvanta_tools.scale import annotate_spark

    notes, expected = collection
    hits = annotate_spark(notes_frame, "note", small_release, id_column="path").toPandas()
    records = frame_records(hits)
    order = {path: i for i, (path, _) in enumerate(notes)}
    ordered = sorted(by_document(records).items(), key=lambda item: order[item[0]])
    assert as_jsonl(r for _, group in ordered for r in group) == without(expected, {notes[0][0], notes[60][0]})


def test_spark_without_ids_and_with_the_release_shipped(collection, small_release, notes_frame, spark):
    """Without id_column each note gets an id of its own; a release named by its
    file name is found among the files shipped with the job (SparkFiles)."""
    import json

    from corvanta_tools.scale import annotate_spark

    notes, expected = collection
    spark.sparkContext.addFile(small_release)
    name = pathlib.Path(small_release).name
    assert not pathlib.Path(name).exists()
    hits = annotate_spark(notes_frame.select("note"), "note", name).toPandas()

    def notes_hits(records):
        return sorted(json.dumps([{**r, "document": None} for r in group])
                      for group in by_document(records).values())

    wanted = [json.loads(line) for line in without(expected, {notes[0][0], notes[60][0]}).splitlines()]
    assert notes_hits(frame_records(hits)) == notes_hits(wanted)
