"""libFuzzer target (atheris): the bioc-json reader; see reader_checks.py."""
from reader_checks import fuzz

fuzz("bioc-json")
