"""The toolkit around the `corvanta` extension: the command line and the helpers it is built from.

- `CharOffsets` / `char_span`: a hit's byte span as str indices of your text.
- `annotate`: one text's hits as `Record`s (what the command line prints).
- `write_tsv`, `write_jsonl`, `write_table`, `write_html`: the output formats.
- `default_release_path` / `default_matcher`: the HPO release the package carries.
- `Release` / `resolve_release_path`: a release's version and official labels; where a release is.
- `annotate_many`: many texts on threads sharing one matcher (Dask and Spark: `corvanta_tools.scale`).
"""
from __future__ import annotations

from corvanta_tools.cli import main, user_cache_dir
from corvanta_tools.embedded import default_matcher, default_release_path
from corvanta_tools.offsets import CharOffsets, char_span
from corvanta_tools.records import Document, Record, annotate, write_jsonl, write_table, write_tsv
from corvanta_tools.releases import Release, resolve_release_path
from corvanta_tools.report import term_url, write_html
from corvanta_tools.scale import annotate_many

__all__ = ["CharOffsets", "Document", "Record", "Release", "annotate", "annotate_many", "char_span",
           "default_matcher", "default_release_path", "main", "resolve_release_path", "term_url",
           "user_cache_dir", "write_html", "write_jsonl", "write_table", "write_tsv"]
