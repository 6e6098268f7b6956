"""The extension's failures, made to happen for real, and the command's error
kinds they become."""
import gzip
import json

import pytest

import corvanta
from conftest import node, release
from corvanta_tools.cli.errors import EXIT_FETCH, EXIT_RELEASE
from corvanta_tools.cli.extension_errors import is_invariant_failure, matcher_failed

NO_VERSION = release([node("0000118", "Phenotypic abnormality")], [], version=None)
FETCH_FAILED = ("failed to fetch/cache the HPO release: failed to download "
                "https://purl.obolibrary.org/obo/hp.json - neither curl nor wget succeeded "
                "(is one installed and is there network access?)")


def raised(call):
    try:
        call()
    except BaseException as error:  # the extension's invariant failure is one
        return error
    raise AssertionError("no failure")


@pytest.mark.parametrize("content, code, message", [
    (None, EXIT_RELEASE, "failed to load HPO ontology from {path}: No such file or directory "
                         "(os error 2)"),
    ("", EXIT_RELEASE, "failed to load HPO ontology from {path}: Reading graph document "
                       "(the file is empty)"),
    (gzip.compress(b"{}"), EXIT_RELEASE, "failed to load HPO ontology from {path}: Reading graph "
     "document (the file holds gzip data: name it with a .gz suffix, or decompress it)"),
    (json.dumps(NO_VERSION), EXIT_RELEASE, "unusable HPO release {path}: Ontology should have a "
                                           "version"),
    (json.dumps({"graphs": []}), EXIT_RELEASE, "unusable HPO release {path}: Obographs document "
                                               "should include at least one graph"),
], ids=["missing file", "empty file", "gzip data", "no version", "no graph"])
def test_a_failed_construction_is_a_release_error(tmp_path, content, code, message):
    path = tmp_path / "hp.json"
    if content is not None:
        (path.write_bytes if isinstance(content, bytes) else path.write_text)(content)
    error = raised(lambda: corvanta.Corvanta(str(path)))
    failure = matcher_failed(error, str(path))
    assert (failure.code, str(failure)) == (code, message.format(path=path))
    if message.startswith("unusable"):  # the extension's invariant failures: BaseException alone
        assert type(error).__bases__ == (BaseException,)
        assert str(error) == message.split(": ", 1)[1]


@pytest.mark.parametrize("named, latest, suffix", [
    ("{tmp}/hp.json.gz", False, " (decompressed from {tmp}/hp.json.gz)"),
    (None, True, " (remove {path} to download the latest release again)"),
])
def test_the_message_says_where_the_file_came_from(tmp_path, named, latest, suffix):
    path = tmp_path / "hp.json"
    path.write_text("{")
    error = raised(lambda: corvanta.Corvanta(str(path)))
    named = named and named.format(tmp=tmp_path)
    failure = matcher_failed(error, str(path), named, latest)
    assert str(failure) == str(error) + suffix.format(tmp=tmp_path, path=path)


def test_a_failed_fetch_is_a_fetch_error(tmp_path, monkeypatch):
    monkeypatch.setenv("PATH", str(tmp_path / "empty"))  # neither curl nor wget
    error = raised(lambda: corvanta.Corvanta.fetch_latest(str(tmp_path / "cache")))
    failure = matcher_failed(error, str(tmp_path / "cache" / "hp.json"), latest=True)
    assert (failure.code, str(failure)) == (EXIT_FETCH, FETCH_FAILED)


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(1), TypeError("x"),
                                   ValueError("failed to load HPO ontology from x")])
def test_other_failures_are_not_the_extensions(error):
    assert not is_invariant_failure(error)
    assert matcher_failed(error, "hp.json") is None
