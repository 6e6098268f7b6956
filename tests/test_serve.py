"""The HTTP service: the API through the test client, and `corvanta serve`
as a real process (start, health, stop by signal)."""
import importlib.util
import json
import signal
import socket
import subprocess
import sys
import time

import pytest

from conftest import require

require("fastapi", reason="the [serve] extra (fastapi) is not installed")
from fastapi.testclient import TestClient  # noqa: E402

from corvanta_tools.serve.app import create_app  # noqa: E402
from corvanta_tools.serve.hosts import allowed_hosts  # noqa: E402
from corvanta_tools.serve.process import ServerProcess  # noqa: E402
from corvanta_tools.serve.server import is_loopback  # noqa: E402
from corvanta_tools.serve.settings import Settings  # noqa: E402

NOTE = "Seizures since infancy. Denies fever. Intention tremor. \u00c9lan: headache."
JSON = {"Content-Type": "application/json"}
HUGE = "9" * 4301  # past Python's limit on the digits of an integer read from text


@pytest.fixture(scope="module")
def client(small_release):
    with TestClient(create_app(Settings(small_release, max_body_bytes=8192, max_documents=3,
                                        max_hits=20))) as client:
        yield client


def records_of(answer):
    return [(r["term_id"], r["text"], r["excluded"]) for r in answer["documents"][0]["records"]]


@pytest.mark.parametrize("longest", [False, True])
def test_annotate_answers_records(client, small, longest):
    response = client.post("/v1/annotate", json={"text": NOTE, "longest": longest})
    assert response.status_code == 200
    answer = response.json()
    assert answer["release"] == "2025-01-01"
    hits = small.map_text_longest(NOTE) if longest else small.map_text(NOTE)
    assert [(r[0], r[2]) for r in records_of(answer)] == [(h.term_id, h.excluded) for h in hits]
    assert ("HP:0001945", "fever", True) in records_of(answer)
    headache = answer["documents"][0]["records"][-1]
    # The É before it is one character but two bytes.
    assert NOTE[slice(*headache["char_span"])] == "headache"
    assert headache["byte_span"] == [headache["char_span"][0] + 1, headache["char_span"][1] + 1]
    assert headache["term_label"] == "Headache" and "document" not in headache


def test_documents_keep_their_ids_and_order(client):
    documents = [{"id": "b", "text": "Ataxia."}, {"text": "Fever."}, {"id": "a", "text": ""}]
    answer = client.post("/v1/annotate", json={"documents": documents}).json()
    assert [(d["id"], len(d["records"])) for d in answer["documents"]] == [("b", 1), ("2", 1),
                                                                          ("a", 0)]


@pytest.mark.parametrize("body, headers, status, fragment", [
    (b'{"text": ', JSON, 400, "malformed JSON"),
    (b'{"text": "caf\xe9"}', JSON, 400, "not UTF-8"),
    ('{"text": "x"}'.encode("utf-16"), JSON, 400, "not UTF-8"),
    (b'{"text": "\\ud800 fever"}', JSON, 422, "lone surrogate"),
    (b'{"text": 5}', JSON, 422, "text: Input should be a valid string"),
    (b'{"text": "x", "longest": "yes"}', JSON, 422, "longest"),
    (b'{"documents": {"text": "x"}}', JSON, 422, "documents"),
    (b'{"documents": [{"id": 1, "text": "x"}]}', JSON, 422, "documents.0.id"),
    (b'{"documents": [{"text": null}]}', JSON, 422, "documents.0.text"),
    (b'{"text": "x", "documents": []}', JSON, 422, 'either "text" or "documents"'),
    (b'{}', JSON, 422, 'either "text" or "documents"'),
    (b'{"text": "x", "path": "/etc/passwd"}', JSON, 422, "path"),
    (b'["text"]', JSON, 422, "valid dictionary"),
    (b'[' * 4000, JSON, 400, "malformed JSON"),
    (b'{"text": "x"}', {"Content-Type": "text/plain"}, 415, "application/json"),
    (b'{"text": "x"}', {}, 415, "application/json"),
    (b'{"documents": [' + b",".join([b'{"text": "x"}'] * 4) + b"]}", JSON, 413, "at most 3"),
    (json.dumps({"text": "x" * 9000}).encode(), JSON, 413, "exceeds 8192 bytes"),
    (json.dumps({"text": "fever " * 21}).encode(), JSON, 413, "more than 20 hits"),
    (json.dumps({"documents": [{"text": "fever " * 12}] * 2}).encode(), JSON, 413, "20 hits"),
    (b'{"text": "a", "longest": ' + HUGE.encode() + b"}", JSON, 400, "too many digits"),
])
def test_bad_requests_get_one_line_json_errors(client, body, headers, status, fragment):
    response = client.post("/v1/annotate", content=body, headers=headers)
    assert response.status_code == status
    assert "\n" not in response.text and "Traceback" not in response.text
    assert fragment in response.json()["error"]


def test_body_cap_holds_without_a_declared_length(client):
    def chunks():
        yield b'{"text": "'
        for _ in range(10):
            yield b"x" * 1000
        yield b'"}'

    response = client.post("/v1/annotate", content=chunks(), headers=JSON)
    assert response.status_code == 413


@pytest.mark.parametrize("method, path, query, status, allow", [
    ("post", "/v1/annotate", "?format=xml", 422, None),
    ("get", "/v1/annotate", "", 405, "POST"),
    ("put", "/v1/health", "", 405, "GET"),
    ("get", "/v1/nothing", "", 404, None),
    ("get", "/assets/../settings.py", "", 404, None),
])
def test_other_faults_are_json_too(client, method, path, query, status, allow):
    response = getattr(client, method)(path + query, **({"json": {"text": "x"}} if method == "post" else {}))
    assert response.status_code == status
    assert set(response.json()) == {"error"}
    assert response.headers.get("allow") == allow


def render_body(text, *spans):
    """A /v1/render body of one document holding a "fever" record per span pair."""
    return json.dumps({"documents": [{"id": "a", "text": text, "records": [
        {"term_id": "HP:0001945", "label": "fever", "char_span": chars, "byte_span": bytes_,
         "excluded": False, "text": "fever"} for chars, bytes_ in spans]}]}).encode()


@pytest.mark.parametrize("body, status, fragment", [
    (render_body("fever", ([3, 1], [0, 5])), 422, "char_span [3, 1] is reversed"),
    (render_body("fever", ([0, 5], [5, 3])), 422, "byte_span [5, 3] is reversed"),
    (render_body("fever", ([0, 6], [0, 5])), 422, "char_span [0, 6] ends past the text"),
    # Lower-cased, the dotted I takes three bytes: the byte span may pass the characters.
    (render_body("\u0130 fever", ([2, 7], [4, 10])), 422, "byte_span [4, 10] ends past"),
    (render_body("fever", ([0, 10**30], [0, 5])), 422, "ends past the text"),
    (render_body("fever", *[([0, 5], [0, 5])] * 21), 413, "more than 20 hits"),
    (b'{"documents": [{"id": "a", "records": [], "text": ' + HUGE.encode() + b"}]}", 400,
     "too many digits"),
])
def test_render_refuses_records_that_do_not_fit_their_text(client, body, status, fragment):
    response = client.post("/v1/render", content=body, headers=JSON)
    assert response.status_code == status
    assert fragment in response.json()["error"]


@pytest.mark.parametrize("body", [
    {"text": "x"}, {"documents": [{"text": "x"}]}, {}, {"text": None},
    {"text": "x", "documents": []}, {"documents": None, "longest": True}])
def test_the_published_schema_accepts_what_the_service_accepts(client, body):
    jsonschema = require("jsonschema", reason="jsonschema is not installed")
    schema = client.get("/openapi.json").json()
    responses = schema["paths"]["/v1/annotate"]["post"]["responses"]
    assert {"200", "400", "408", "413", "415", "422"} <= set(responses)
    request = {"$ref": "#/components/schemas/AnnotateRequest", "components": schema["components"]}
    published = jsonschema.Draft202012Validator(request).is_valid(body)
    assert published == (client.post("/v1/annotate", json=body).status_code == 200)


def test_health_release_and_schema(client):
    assert client.get("/v1/health").json() == {"status": "ok", "version": "2025-01-01"}
    assert client.get("/v1/release").json() == {"version": "2025-01-01", "hp_terms": 33}
    schema = client.get("/openapi.json").json()
    assert {"/v1/annotate", "/v1/render", "/v1/health", "/v1/release"} <= set(schema["paths"])
    body = schema["paths"]["/v1/annotate"]["post"]["requestBody"]["content"]["application/json"]
    name = body["schema"]["$ref"].rsplit("/", 1)[1]
    assert set(schema["components"]["schemas"][name]["properties"]) == {
        "text", "documents", "longest", "assertion", "profile"}


def test_pages_load_nothing_from_elsewhere(client):
    page = client.get("/")
    assert "default-src 'none'" in page.headers["content-security-policy"]
    docs = client.get("/docs").text
    for text in (page.text, docs):
        assert "http://" not in text and "https://" not in text
    for asset in ("/assets/page.js", "/assets/page.css", "/docs/swagger-ui-bundle.js",
                  "/docs/swagger-ui.css", "/favicon.svg", "/favicon.ico"):
        assert client.get(asset).status_code == 200
    assert 'rel="icon" type="image/svg+xml" href="favicon.svg"' in page.text
    assert client.get("/favicon.ico").headers["content-type"] == "image/svg+xml"
    assert ".innerHTML" not in client.get("/assets/page.js").text


@pytest.mark.parametrize("origins, allowed", [((), None), (("http://ehr.local",), "http://ehr.local")])
def test_cors_only_for_given_origins(small_release, origins, allowed):
    with TestClient(create_app(Settings(small_release, cors_origins=origins))) as client:
        response = client.post("/v1/annotate", json={"text": "Fever"},
                               headers={"Origin": "http://ehr.local"})
    assert response.headers.get("access-control-allow-origin") == allowed


def test_render_writes_reviewed_records_unchanged(client):
    answer = client.post("/v1/annotate", json={"text": NOTE}).json()
    reviewed = answer["documents"][0]
    reviewed["records"] = reviewed["records"][:2]
    reviewed["records"][0]["excluded"] = True
    rendered = client.post("/v1/render", json={"documents": [{**reviewed, "text": NOTE}]}).json()
    assert rendered["documents"] == [reviewed]


@pytest.mark.parametrize("format, media_type", [
    ("phenopacket", "application/x-ndjson"), ("bioc-json", "application/json"),
    ("pubtator", "text/plain"), ("tsv", "text/tab-separated-values")])
def test_formats_answer_their_media_type(client, format, media_type):
    documents = [{"id": "a", "text": "Ataxia."}, {"id": "b", "text": "Denies fever."}]
    response = client.post(f"/v1/annotate?format={format}", json={"documents": documents})
    if response.status_code == 501:
        pytest.skip(f"the service cannot write {format} here: {response.json()['error']}")
    assert response.status_code == 200
    assert response.headers["content-type"].startswith(media_type)
    if format == "phenopacket":
        packets = [json.loads(line) for line in response.text.splitlines()]
        assert [p["id"] for p in packets] == ["a", "b"]
    elif format == "tsv":
        assert [line.split("\t")[1] for line in response.text.splitlines()[1:]] == [
            "HP:0001251", "HP:0001945"]


@pytest.mark.parametrize("assertion", [None, "context", "library", "medspacy"])
def test_assertion_is_context_by_default(client, assertion):
    request = {"text": "No fever."} | ({"assertion": assertion} if assertion else {})
    response = client.post("/v1/annotate", json=request)
    if assertion == "medspacy" and importlib.util.find_spec("medspacy") is None:
        assert response.status_code == 501 and "medspacy" in response.json()["error"]
        return
    assert response.status_code == 200
    (record,) = response.json()["documents"][0]["records"]
    if assertion == "library":
        assert "assertion" not in record
    else:
        assert record["assertion"]["is_negated"] is True


def test_render_keeps_the_reviewed_assertions(client):
    """The review's Phenopacket: family mentions left out, negated ones excluded."""
    text = "No fever. His mother has short stature. Ataxia."
    (document,) = client.post("/v1/annotate", json={"text": text}).json()["documents"]
    fever, stature, ataxia = document["records"]
    ataxia["assertion"]["is_negated"] = True  # the reviewer's call
    response = client.post("/v1/render?format=phenopacket", json={"documents": [
        {"id": "1", "text": text, "records": [fever, stature, ataxia]}]})
    features = json.loads(response.text)["phenotypicFeatures"]
    assert {f["type"]["id"]: f.get("excluded", False) for f in features} == {
        "HP:0001945": True, "HP:0001251": True}


@pytest.mark.parametrize("host, loopback", [
    ("127.0.0.1", True), ("127.8.0.1", True), ("::1", True), ("localhost", True),
    ("0.0.0.0", False), ("::", False), ("10.0.0.5", False), ("example.org", False)])
def test_only_loopback_hosts_count_as_private(host, loopback):
    assert is_loopback(host) is loopback


@pytest.mark.parametrize("bound, extra, host, status", [
    ("127.0.0.1", (), "127.0.0.1:8000", 200),
    ("127.0.0.1", (), "localhost", 200),
    ("127.0.0.1", (), "[::1]:8000", 200),
    ("127.0.0.1", (), "LOCALHOST:8000", 200),
    ("::1", (), "[::1]", 200),
    ("127.0.0.1", (), "attacker.example:8000", 400),  # DNS rebinding
    ("127.0.0.1", (), "localhost.attacker.example", 400),
    ("127.0.0.1", (), "", 400),
    ("127.0.0.1", ("notes.local",), "notes.local:8000", 200),
    ("127.0.0.1", ("*",), "attacker.example", 200),
    ("0.0.0.0", (), "notes.example.org", 200),
])
def test_host_header_checked_on_loopback(small_release, bound, extra, host, status):
    settings = Settings(small_release, allowed_hosts=allowed_hosts(bound, extra))
    with TestClient(create_app(settings)) as client:
        response = client.get("/v1/health", headers={"Host": host})
    assert response.status_code == status
    if status == 400:
        assert "--allow-host" in response.json()["error"]


@pytest.mark.parametrize("port", ["0", "70000", "-1", "80x"])
def test_a_port_outside_the_range_is_exit_2(small_release, port):
    # A child process: a port taken as valid would serve until the timeout.
    result = subprocess.run([sys.executable, "-m", "corvanta_tools", "serve", "--hpo",
                             small_release, "--port", port], capture_output=True, text=True,
                            timeout=30)
    assert result.returncode == 2
    assert "is not a port (1 to 65535)" in result.stderr


def test_a_taken_port_is_one_line_and_exit_2(small_release):
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        result = subprocess.run([sys.executable, "-m", "corvanta_tools", "serve", "--hpo",
                                 small_release, "--port", str(port)],
                                capture_output=True, text=True, timeout=120)
    assert result.returncode == 2
    assert result.stderr.strip().splitlines()[-1] == (
        f"corvanta: error: cannot listen on 127.0.0.1 port {port}: Address already in use")


def post_in_two_halves(url, body, between):
    """Sends the request's head and half its body, calls `between`, sends the
    rest; returns the raw answer."""
    host, port = url.removeprefix("http://").split(":")
    with socket.create_connection((host, int(port)), timeout=30) as connection:
        connection.sendall(b"POST /v1/annotate HTTP/1.1\r\nHost: localhost\r\nContent-Type: "
                           b"application/json\r\nConnection: close\r\nContent-Length: "
                           + str(len(body)).encode() + b"\r\n\r\n" + body[:len(body) // 2])
        between()
        connection.sendall(body[len(body) // 2:])
        answer = b""
        while chunk := connection.recv(65536):
            answer += chunk
    return answer


@pytest.mark.parametrize("sig, workers", [(signal.SIGTERM, 1), (signal.SIGINT, 1),
                                          (signal.SIGTERM, 2)])
def test_real_server_finishes_requests_in_flight_then_exits_0(small_release, sig, workers):
    server = ServerProcess(small_release, ["--workers", str(workers)])
    assert server.health == {"status": "ok", "version": "2025-01-01"}

    def stop_meanwhile():
        time.sleep(1.0)  # the server has read the head: the request is in flight
        server.process.send_signal(sig)
        time.sleep(0.5)

    answer = post_in_two_halves(server.url, json.dumps({"text": NOTE}).encode(), stop_meanwhile)
    status = server.stop(sig)
    assert answer.startswith(b"HTTP/1.1 200"), answer
    assert b'"HP:0001250"' in answer
    assert status == 0, server.output
    assert server.output.count("matcher built in") == workers
    assert f"listening on {server.url}\n" in server.output


HEAD = (b"POST /v1/annotate HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/json\r\n"
        b"Content-Length: 100\r\n\r\n")


def answer_of(connection):
    """What the server sends until it closes the connection."""
    answer = b""
    while chunk := connection.recv(65536):
        answer += chunk
    return answer


@pytest.fixture(scope="module")
def impatient_server(small_release):
    with ServerProcess(small_release, ["--head-timeout", "0.5", "--body-timeout", "0.5",
                                       "--cors-origin", "*"]) as server:
        yield server


@pytest.mark.parametrize("sent, fragment", [
    (b"", b"head took too long"),
    (b"POST /v1/annotate HTTP/1.1\r\nHost: loc", b"head took too long"),
    (HEAD + b'{"text": "fev', b"body did not arrive within 0.5 s"),
])
def test_slow_clients_get_408_and_the_connection_closes(impatient_server, sent, fragment):
    with socket.create_connection(("127.0.0.1", impatient_server.port), timeout=5) as connection:
        connection.sendall(sent)
        answer = answer_of(connection)
    assert answer.startswith(b"HTTP/1.1 408") and fragment in answer, answer


def test_a_client_hanging_up_mid_upload_is_one_line(impatient_server):
    with socket.create_connection(("127.0.0.1", impatient_server.port), timeout=5) as connection:
        connection.sendall(HEAD + b'{"text": ')
        time.sleep(0.2)  # the application is reading the body
    for _ in range(50):
        log = impatient_server.read_log()
        if "connection closed" in log:
            break
        time.sleep(0.1)
    assert "Traceback" not in log
    noted = [line for line in log.splitlines() if "connection closed" in line or " 500" in line]
    assert noted == ["INFO:     POST /v1/annotate: the connection closed before the body arrived"]
    assert "WARNING: --cors-origin '*'" in log


def test_a_stop_signal_does_not_wait_for_trickling_uploads(small_release):
    server = ServerProcess(small_release)  # the default body timeout outlasts the test
    connections = [socket.create_connection(("127.0.0.1", server.port), timeout=5)
                   for _ in range(20)]
    try:
        for connection in connections:
            connection.sendall(HEAD + b'{"te')
        time.sleep(0.3)
        # Well within the 30 s granted to requests in flight; killed if not.
        status = server.stop(signal.SIGTERM, timeout=10)
    finally:
        for connection in connections:
            connection.close()
    assert status == 0, server.output
    assert "Traceback" not in server.output and " 500" not in server.output
