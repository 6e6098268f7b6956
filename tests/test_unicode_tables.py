"""The committed Unicode tables are what the generator makes of the Unicode
Character Database they name: nobody edited them by hand."""
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[1]
TABLES = ROOT / "src" / "text" / "unicode_tables.hpp"
UCD = Path("/usr/share/unicode")


def ucd_version():
    path = UCD / "DerivedCoreProperties.txt"
    if not path.exists():
        return None
    return re.search(r"-(\d+\.\d+\.\d+)\.txt", path.open(encoding="utf-8").readline())[1]


def test_committed_tables_are_generated(tmp_path):
    committed = TABLES.read_text(encoding="utf-8")
    version = re.search(r'kUnicodeVersion = "([^"]+)"', committed)[1]
    if ucd_version() != version:
        pytest.skip(f"needs the Unicode {version} character database in {UCD} (Debian's unicode-data), "
                    f"found {ucd_version() or 'none'}")
    out = tmp_path / "unicode_tables.hpp"
    subprocess.run([sys.executable, ROOT / "scripts" / "generate-unicode-tables.py", UCD, out], check=True,
                   capture_output=True)
    assert out.read_text(encoding="utf-8") == committed
