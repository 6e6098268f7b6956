"""libFuzzer target (atheris): the bioc-xml reader; see reader_checks.py."""
from reader_checks import fuzz

fuzz("bioc-xml")
