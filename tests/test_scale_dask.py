"""Notes on a Dask cluster of two worker processes give exactly the records of the command line."""
import importlib.util

import pytest

from scale_notes import as_jsonl, collection, frame_records, table_jsonl  # noqa: F401 (a fixture)

if importlib.util.find_spec("distributed") is None or importlib.util.find_spec("pandas") is None:
    pytest.skip("dask[distributed] and pandas are not installed (scripts/test-extras.sh installs them)",
                allow_module_level=True)


@pytest.fixture(scope="module")
def dask_client():
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        yield client


@pytest.mark.parametrize("as_mappings", [True, False])
def test_dask_bag(collection, small_release, dask_client, as_mappings):
    import dask.bag

    from corvanta_tools.scale import annotate_bag

    notes, expected = collection
    items = [{"id": path, "text": text} for path, text in notes] if as_mappings else [t for _, t in notes]
    records = annotate_bag(dask.bag.from_sequence(items, npartitions=3), small_release).compute()
    if as_mappings:
        assert as_jsonl(records) == expected
    else:  # the same records, under ids made of partition and position
        per_partition = -(-len(notes) // 3)
        renamed = {f"{i // per_partition}:{i % per_partition}": path for i, (path, _) in enumerate(notes)}
        assert as_jsonl({**r, "document": renamed[r["document"]]} for r in records) == expected


@pytest.mark.parametrize("id_column", ["path", None])
def test_dask_dataframe(collection, small_release, dask_client, id_column):
    import dask.dataframe
    import pandas

    from corvanta_tools.scale import annotate_dataframe

    notes, expected = collection
    table = pandas.DataFrame(notes, columns=["path", "note"], index=pandas.RangeIndex(100, 100 + len(notes)))
    table.loc[[100, 160], "note"] = None  # missing notes have no hits
    frame = dask.dataframe.from_pandas(table, npartitions=3)
    hits = annotate_dataframe(frame, "note", small_release, id_column=id_column)
    assert hits.divisions == frame.divisions
    computed = hits.compute()
    assert list(computed.dtypes.astype(str)) == list(hits.dtypes.astype(str))
    records = frame_records(computed)
    if id_column is None:
        assert [r["document"] for r in records] == [str(i) for i in computed.index]
        records = [{**r, "document": table.path[int(r["document"])]} for r in records]
    else:
        assert list(computed.index) == [table.index[table.path == r["document"]][0] for r in records]
    skipped = {notes[0][0], notes[60][0]}
    assert as_jsonl(records) == table_jsonl("".join(
        line + "\n" for line in expected.splitlines()
        if not any(f'"document": "{path}"' in line for path in skipped)))
