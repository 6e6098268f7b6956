"""The HTML report: its markup, and the page as a browser renders it."""
import html
import io
import json
import re
import shutil
import subprocess

import pytest

from corvanta_tools import Document, Record, main, write_html
from corvanta_tools.report import HPO_BROWSER

PIECE = re.compile(r'<a class="([^"]*)" href="([^"]*)" title="([^"]*)"[^>]*>([^<]*)</a>|([^<]+)')


def record(span, term, excluded=False, char_span=True):
    return Record("d", term, f"label {term}", None, span if char_span else None, span, excluded, "")


def render(documents):
    page = io.StringIO()
    write_html(page, "2025-01-01", documents)
    return page.getvalue()


def pieces(page):
    """(text, classes, title lines + link) per piece of the first document's
    text; classes and the rest are None for text outside any hit."""
    body = re.search(r'<div class="text">(.*?)</div>', page, re.S).group(1)
    found = []
    for m in PIECE.finditer(body):
        if m[5]:
            found.append((html.unescape(m[5]), None, None))
        else:
            found.append((html.unescape(m[4]), m[1], html.unescape(m[3]).split("\n") + [m[2]]))
    return found


def test_overlapping_hits_are_cut_into_pieces():
    records = [record((0, 6), "HP:1"), record((2, 4), "HP:2", excluded=True),
               record((4, 9), "HP:3", excluded=True), record((9, 10), "HP:4", char_span=False)]
    page = render([Document("d", "abcdefghij", records)])
    assert pieces(page) == [
        ("ab", "hit", ["HP:1 label HP:1", HPO_BROWSER + "HP:1"]),
        ("cd", "hit overlap", ["HP:1 label HP:1", "HP:2 label HP:2 (excluded)", HPO_BROWSER + "HP:2"]),
        ("ef", "hit overlap", ["HP:1 label HP:1", "HP:3 label HP:3 (excluded)", HPO_BROWSER + "HP:3"]),
        ("ghi", "hit excluded", ["HP:3 label HP:3 (excluded)", HPO_BROWSER + "HP:3"]),
        ("j", None, None),
    ]
    assert "HP:4 label HP:4" in re.search(r'<p class="unplaced">(.*?)</p>', page).group(1)


def test_page_is_escaped_and_self_contained():
    text = '<script>alert("x")</script> & more'
    page = render([Document('a "quoted" <id>', text, [record((8, 13), 'HP:"1"')])])
    assert "<script" not in page and "<link" not in page and "src=" not in page and "url(" not in page
    assert [p[0] for p in pieces(page)] == ["<script>", "alert", '("x")</script> & more']
    assert "<h2>a \"quoted\" &lt;id&gt;</h2>" in page
    assert all(href.startswith(HPO_BROWSER) for href in re.findall(r'href="([^"]*)"', page))


CHROMIUM = shutil.which("chromium")
NOTES = {
    "first.txt": "Ataxia & <tremor>, no evidence of fever.\n\u0130stanbul: short stature; denies headache.",
    "second.txt": "Fever without cough.\n\nEpileptic seizure and obesity.",
}
EXPECTED = [  # document, highlighted text, term, label, excluded
    (0, "Ataxia", "HP:0001251", "Ataxia", False),
    (0, "tremor", "HP:0001337", "Tremor", False),
    (0, "fever", "HP:0001945", "Fever", True),
    (0, "short stature", "HP:0004322", "Short stature", False),
    (0, "headache", "HP:0002315", "Headache", True),
    (1, "Fever", "HP:0001945", "Fever", False),
    (1, "cough", "HP:0012735", "Cough", True),
    (1, "Epileptic seizure", "HP:0001250", "Epileptic seizure", False),
    (1, "obesity", "HP:0001513", "Obesity", False),
]
PROBE = """<script>
const hits = [...document.querySelectorAll('.text a.hit')].map(a => {
  const style = getComputedStyle(a);
  return {document: a.closest('section').querySelector('h2').textContent, text: a.textContent,
          excluded: a.classList.contains('excluded'), title: a.title, href: a.href,
          background: style.backgroundColor, decoration: style.textDecorationLine,
          visible: a.getBoundingClientRect().width > 0};
});
const terms = [...document.querySelectorAll('section')].map(
    s => s.querySelectorAll('table.summary tbody tr').length);
const probe = document.createElement('pre');
probe.id = 'probe';
probe.textContent = JSON.stringify({hits, terms});
document.body.append(probe);
</script>
</body>"""


def chromium(tmp_path, *args):
    return subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                           f"--user-data-dir={tmp_path / 'profile'}", *args],
                          capture_output=True, text=True, timeout=120, check=True).stdout


@pytest.mark.slow
@pytest.mark.skipif(CHROMIUM is None, reason="chromium is not installed (scripts/test-extras.sh installs it)")
def test_report_in_browser(small_release, tmp_path, capsys):
    paths = []
    for name, text in NOTES.items():
        paths.append(tmp_path / name)
        paths[-1].write_text(text, encoding="utf-8")
    report = tmp_path / "report.html"
    assert main(["annotate", "--hpo", small_release, "--format", "html", "-o", str(report),
                 "--assertion", "library", *map(str, paths)]) == 0
    probe = tmp_path / "probe.html"
    probe.write_text(report.read_text(encoding="utf-8").replace("</body>", PROBE), encoding="utf-8")

    dom = chromium(tmp_path, "--dump-dom", probe.as_uri())
    found = json.loads(html.unescape(re.search(r'<pre id="probe">(.*?)</pre>', dom, re.S).group(1)))
    assert [(h["document"], h["text"], h["excluded"], h["title"], h["href"]) for h in found["hits"]] == [
        (str(paths[number]), text, excluded, f"{term} {label}" + (" (excluded)" if excluded else ""),
         HPO_BROWSER + term)
        for number, text, term, label, excluded in EXPECTED]
    assert found["terms"] == [5, 4]
    present = {h["background"] for h in found["hits"] if not h["excluded"]}
    excluded = {h["background"] for h in found["hits"] if h["excluded"]}
    assert len(present) == len(excluded) == 1 and present != excluded and "rgba(0, 0, 0, 0)" not in present | excluded
    assert all(h["visible"] and (h["decoration"] == "line-through") == h["excluded"] for h in found["hits"])

    screenshot = tmp_path / "report.png"
    chromium(tmp_path, f"--screenshot={screenshot}", "--window-size=1200,1400", report.as_uri())
    assert screenshot.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and screenshot.stat().st_size > 20_000
    with capsys.disabled():
        print(f"\nreport screenshot: {screenshot}")
