"""The review page in a real browser (headless Chromium through Selenium)
against a real `corvanta serve`: annotate a pasted note, review one hit,
export the result."""
import json
import os
import pathlib
import shutil
import time

import pytest

from conftest import require

if os.environ.get("CORVANTA_SANITIZED") == "1":
    pytest.skip("the browser is not run against the sanitizer build", allow_module_level=True)
require("fastapi", reason="the [serve] extra (fastapi) is not installed")
webdriver = require("selenium.webdriver",
                                reason="selenium is not installed (scripts/test-extras.sh)")
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

from corvanta_tools.serve.process import ServerProcess  # noqa: E402

SCREENSHOT = pathlib.Path(__file__).resolve().parents[1] / "build" / "screenshots" / "review-page.png"
NOTE = ("Seizures since infancy. Denies fever. His mother has short stature. Possible ataxia.\n"
        "Intention tremor and headache. <b>not markup</b> \u202eevil")


@pytest.fixture(scope="module")
def server(small_release):
    with ServerProcess(small_release) as server:
        yield server


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver")
    if chromium is None or driver_path is None:
        pytest.skip("chromium and chromium-driver are not installed (scripts/test-extras.sh)")
    downloads = tmp_path_factory.mktemp("downloads")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1200,1000"):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads),
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(options=options,
                              service=webdriver.ChromeService(executable_path=driver_path))
    driver.downloads = downloads
    yield driver
    driver.quit()


def hits(browser):
    return [(span.text, span.get_attribute("class"), span.get_attribute("title"))
            for span in browser.find_elements(By.CSS_SELECTOR, "#documents span.hit")]


def downloaded(browser, name):
    path = browser.downloads / name
    deadline = time.monotonic() + 30
    while not path.exists() and time.monotonic() < deadline:
        time.sleep(0.1)
    return path.read_text(encoding="utf-8")


def test_annotate_review_export(server, browser):
    browser.get(server.url + "/")
    WebDriverWait(browser, 30).until(
        lambda b: "2025-01-01" in b.find_element(By.ID, "release").text)
    browser.find_element(By.ID, "note").send_keys(NOTE)
    browser.find_element(By.ID, "annotate").click()
    WebDriverWait(browser, 30).until(
        lambda b: b.find_elements(By.CSS_SELECTOR, "#documents span.hit")
        or "error" in b.find_element(By.ID, "status").get_attribute("class"))
    assert hits(browser), browser.find_element(By.ID, "status").text

    found = {text: (classes, title) for text, classes, title in hits(browser)}
    assert found["Seizures"][0] == "hit"
    assert "HP:0001250 Seizure" in found["Seizures"][1]
    assert found["fever"][0] == "hit excluded"
    assert found["headache"][0] == "hit"
    assert (found["short stature"][0], found["ataxia"][0]) == ("hit family", "hit uncertain")
    styles = {span.text: {name: span.value_of_css_property(name) for name in (
        "background-color", "border-top-style", "text-decoration-line")}
        for span in browser.find_elements(By.CSS_SELECTOR, "#documents span.hit")}
    assert styles["fever"]["text-decoration-line"] == "line-through"
    assert styles["ataxia"]["border-top-style"] == "dashed"
    assert styles["short stature"]["background-color"] not in (
        styles["headache"]["background-color"], styles["fever"]["background-color"])
    legend = browser.find_element(By.ID, "status-legend")
    # The checkbox shows the status, or only what is negated.
    show = browser.find_element(By.ID, "show-status")
    show.click()
    assert not legend.is_displayed()
    assert {text: classes for text, classes, _ in hits(browser)}["short stature"] == "hit"
    show.click()
    assert legend.is_displayed()
    assert {text: classes for text, classes, _ in hits(browser)}["short stature"] == "hit family"
    # The note's markup is shown as text, its override control as a marker.
    text = browser.find_element(By.CSS_SELECTOR, "#documents .text")
    assert "<b>not markup</b>" in text.text
    assert not text.find_elements(By.TAG_NAME, "b")
    assert text.find_element(By.CSS_SELECTOR, ".bidi").text == "U+202E"

    seizures = next(s for s in browser.find_elements(By.CSS_SELECTOR, "span.hit")
                    if s.text == "Seizures")
    seizures.click()
    browser.find_element(By.CSS_SELECTOR, "#menu button.toggle").click()
    headache = next(s for s in browser.find_elements(By.CSS_SELECTOR, "span.hit")
                    if s.text == "headache")
    headache.click()
    browser.find_element(By.CSS_SELECTOR, "#menu button.remove").click()
    found = {text: classes for text, classes, _ in hits(browser)}
    assert found["Seizures"] == "hit excluded" and "headache" not in found
    rows = browser.find_elements(By.CSS_SELECTOR, "table.summary tbody tr")
    assert [r.get_attribute("class") for r in rows][-2:] == ["excluded", "excluded"]

    SCREENSHOT.parent.mkdir(parents=True, exist_ok=True)
    browser.save_screenshot(str(SCREENSHOT))
    print(f"screenshot: {SCREENSHOT}")

    browser.find_element(By.ID, "export-json").click()
    exported = json.loads(downloaded(browser, "hits.json"))
    records = {r["term_id"]: r["assertion"] for r in exported["documents"][0]["records"]}
    assert records["HP:0001250"]["is_negated"] is True and "HP:0002315" not in records

    browser.find_element(By.ID, "export-phenopacket").click()
    WebDriverWait(browser, 30).until(
        lambda b: "xported" in b.find_element(By.ID, "status").text
        or "failed" in b.find_element(By.ID, "status").text)
    status = browser.find_element(By.ID, "status").text
    if "not available" in status:
        pytest.skip(f"Phenopacket export unavailable in this service: {status}")
    json_format = require("google.protobuf.json_format",
                                      reason="protobuf (of the phenopackets package) is missing")
    phenopackets = require("phenopackets", reason="the [formats] extra is missing")
    (line,) = downloaded(browser, "phenopackets.jsonl").splitlines()
    packet = json_format.Parse(line, phenopackets.Phenopacket())
    features = {f.type.id: f.excluded for f in packet.phenotypic_features}
    assert features["HP:0001250"] is True and "HP:0002315" not in features
    assert features["HP:0001251"] is False and "HP:0004322" not in features  # the mother's


def test_chosen_files_are_annotated_as_documents(server, browser, tmp_path):
    note = tmp_path / "clinic-letter.txt"
    note.write_text("Short stature and ataxia.", encoding="utf-8")
    browser.get(server.url + "/")
    browser.find_element(By.ID, "file-input").send_keys(str(note))
    WebDriverWait(browser, 30).until(
        lambda b: "clinic-letter.txt" in b.find_element(By.ID, "files").text)
    browser.find_element(By.ID, "annotate").click()
    WebDriverWait(browser, 30).until(
        lambda b: b.find_elements(By.CSS_SELECTOR, "#documents span.hit"))
    assert browser.find_element(By.CSS_SELECTOR, "#documents h2").text == "clinic-letter.txt"
    assert [text for text, _, _ in hits(browser)] == ["Short stature", "ataxia"]


def test_docs_page_renders_without_network(server, browser):
    browser.get(server.url + "/docs")
    WebDriverWait(browser, 30).until(
        lambda b: b.find_elements(By.CSS_SELECTOR, ".swagger-ui .opblock-summary-path"))
    paths = {e.text for e in browser.find_elements(By.CSS_SELECTOR, ".opblock-summary-path")}
    assert {"/v1/annotate", "/v1/health"} <= {p.replace("\u200b", "") for p in paths}
