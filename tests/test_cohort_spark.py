"""Patients and the index on Spark give what the Python side gives. The
session is conftest's `spark`, one for the run: starting the JVM is the slow part."""
import datetime
import importlib.util
import os
import shutil

import pytest

from test_patients import MAP, NOTES

if os.environ.get("CORVANTA_SANITIZED") == "1":
    pytest.skip("Spark's JVM and Python workers are left out of the sanitized run",
                allow_module_level=True)
for module in ("pyspark", "pyarrow", "duckdb"):
    if importlib.util.find_spec(module) is None:
        pytest.skip(f"{module} is not installed (scripts/test-extras.sh installs it)",
                    allow_module_level=True)
if shutil.which("java") is None and not os.environ.get("JAVA_HOME"):
    pytest.skip("no Java runtime (scripts/test-extras.sh installs default-jre-headless)",
                allow_module_level=True)

SEIZURE, ATAXIA, SHORT_STATURE = "HP:0001250", "HP:0001251", "HP:0004322"


@pytest.fixture(scope="module")
def mentions(spark):
    from corvanta_tools.scale.cohort_spark import mentions_spark
    from corvanta_tools.scale.spark import annotate_spark

    rows = [line.split(",") for line in MAP.splitlines()[1:]]
    notes = spark.createDataFrame(
        [(note, patient, date or None, NOTES[note]) for note, patient, date in rows],
        "note string, patient string, date string, text string")
    return mentions_spark(annotate_spark(notes, "text", id_column="note"), notes,
                          date_col="date").cache()


def test_profiles_match_the_python_rules(mentions):
    from corvanta_tools.scale.cohort_spark import patient_features_spark

    found = {(r.patient, r.term_id): (r.excluded, r.onset)
             for r in patient_features_spark(mentions).collect()}
    assert found[("P1", SHORT_STATURE)] == (False, datetime.date(2019, 5, 1))
    assert found[("P1", SEIZURE)] == (False, datetime.date(2020, 1, 2))
    assert found[("P2", SEIZURE)] == (True, None)
    assert found[("P2", ATAXIA)] == (False, None)
    assert ("P3", ATAXIA) not in found  # the father's


def test_spark_index_is_queried_like_any_other(mentions, tmp_path):
    import corvanta_tools
    from corvanta_tools.cohort import cohort
    from corvanta_tools.scale.cohort_spark import write_index_spark

    release = corvanta_tools.Release(corvanta_tools.default_release_path())
    write_index_spark(mentions, tmp_path / "index", release, partitions=2)
    assert list(cohort(tmp_path / "index", [SEIZURE])["patient"]) == ["P1", "P3"]
    assert list(cohort(tmp_path / "index", [SEIZURE, SHORT_STATURE])["patient"]) == ["P1"]
    assert list(cohort(tmp_path / "index", [ATAXIA])["patient"]) == ["P2"]
