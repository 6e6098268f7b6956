"""libFuzzer target (atheris): the pubtator reader; see reader_checks.py."""
from reader_checks import fuzz

fuzz("pubtator")
