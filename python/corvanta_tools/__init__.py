"""The toolkit around the `corvanta` extension: the command line and the helpers it is built from.

- `CharOffsets` / `char_span`: a hit's byte span as str indices of your text.
- `annotate`: one text's hits as `Record`s (what the command line prints).
- `write_tsv`, `write_jsonl`, `write_table`, `write_html`: the output formats.
- `default_release_path` / `default_matcher`: the HPO release the package carries.
- `Release` / `resolve_release_path`: a release's version and official labels; where a release is.
- `annotate_many`: many texts on threads sharing one matcher (Dask and Spark: `corvanta_tools.scale`).
- `main`: the command line; `user_cache_dir`: where it caches releases.

Each name is imported on first use, so that `import corvanta_tools` (which
every spaCy or Dask worker pays) loads neither the command line nor an extra.
"""
from __future__ import annotations

import importlib
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from corvanta_tools.cli import main
    from corvanta_tools.embedded import default_release_path
    from corvanta_tools.formats.lines import write_jsonl, write_table, write_tsv
    from corvanta_tools.offsets import CharOffsets, char_span
    from corvanta_tools.records import Document, Record, annotate
    from corvanta_tools.registry import default_matcher
    from corvanta_tools.release_cache import user_cache_dir
    from corvanta_tools.releases import Release, resolve_release_path
    from corvanta_tools.report import term_url, write_html
    from corvanta_tools.scale import annotate_many

__all__ = ["CharOffsets", "Document", "Record", "Release", "annotate", "annotate_many", "char_span",
           "default_matcher", "default_release_path", "main", "resolve_release_path", "term_url",
           "user_cache_dir", "write_html", "write_jsonl", "write_table", "write_tsv"]

_HOMES = {
    "CharOffsets": "offsets", "char_span": "offsets",
    "Document": "records", "Record": "records", "annotate": "records",
    "Release": "releases", "resolve_release_path": "releases",
    "annotate_many": "scale",
    "default_matcher": "registry", "default_release_path": "embedded",
    "main": "cli",
    "user_cache_dir": "release_cache",
    "term_url": "report", "write_html": "report",
    "write_jsonl": "formats.lines", "write_table": "formats.lines", "write_tsv": "formats.lines",
}


def __getattr__(name: str) -> object:
    home = _HOMES.get(name)
    if home is None:
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    value = getattr(importlib.import_module(f"{__name__}.{home}"), name)
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted([*globals(), *__all__])
