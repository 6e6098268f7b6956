"""The web application: the versioned API, its schema and docs page, and the
review page. Recognition, parsing and rendering run in the thread pool, never
on the event loop; the extension recognizes without holding the GIL, so one
process serves concurrent requests on several cores."""
from __future__ import annotations

import logging
import os

import anyio
import anyio.to_thread
from collections.abc import AsyncIterator, Callable, Mapping
from contextlib import asynccontextmanager
from typing import Any

from fastapi import FastAPI, Query, Request
from fastapi.concurrency import run_in_threadpool
from fastapi.exceptions import RequestValidationError
from fastapi.middleware.cors import CORSMiddleware
from fastapi.openapi.utils import get_openapi
from fastapi.responses import JSONResponse, Response
from pydantic.json_schema import models_json_schema
from starlette.exceptions import HTTPException
from starlette.requests import ClientDisconnect

from corvanta_tools.records import Document
from corvanta_tools.serve import assets
from corvanta_tools.serve.hosts import HostCheck
from corvanta_tools.serve.payload import (AnnotateRequest, Format, RenderRequest, RequestError,
                                          one_line, read_annotate_request, read_render_request)
from corvanta_tools.serve.schema import AnnotateResponse, ErrorResponse, Health, ReleaseInfo
from corvanta_tools.serve.service import MEDIA_TYPES, Service
from corvanta_tools.serve.settings import Settings

__all__ = ["app_from_environment", "create_app"]

LOG = logging.getLogger("uvicorn.error")

_FORMAT = Query("json", description="json (records per document), phenopacket (JSON lines, one "
                                    "Phenopacket per document), bioc-json, pubtator or tsv")


def _error(status: int, message: str, headers: Mapping[str, str] | None = None) -> JSONResponse:
    return JSONResponse({"error": message}, status_code=status, headers=headers)


async def _body(request: Request, cap: int, seconds: float) -> bytes:
    """The request body, refused with 413 as soon as it exceeds `cap` bytes,
    with 408 unless it has all arrived `seconds` after its head."""
    declared = request.headers.get("content-length", "")
    if declared.isdigit() and int(declared) > cap:
        raise RequestError(413, f"the body exceeds {cap} bytes")
    content_type = request.headers.get("content-type", "").split(";")[0].strip().lower()
    if content_type != "application/json" and not content_type.endswith("+json"):
        raise RequestError(415, "send the body as application/json")
    chunks = []
    size = 0
    try:
        with anyio.fail_after(seconds):
            async for chunk in request.stream():
                size += len(chunk)
                if size > cap:
                    raise RequestError(413, f"the body exceeds {cap} bytes")
                chunks.append(chunk)
    except TimeoutError:
        raise RequestError(408, f"the body did not arrive within {seconds:g} s") from None
    except ClientDisconnect:
        raise _HungUp from None
    return b"".join(chunks)


class _HungUp(Exception):
    """The client closed its connection before its body had arrived."""


def _request_body(model: str) -> dict[str, Any]:
    return {"requestBody": {"required": True, "content": {
        "application/json": {"schema": {"$ref": f"#/components/schemas/{model}"}}}}}


def _formatted_responses() -> dict[int | str, dict[str, Any]]:
    refusals = {400: "the body is not UTF-8 or not JSON",
                408: "the body did not arrive in time",
                413: "body, document count or hits over the limit",
                415: "the body is not sent as application/json",
                422: "the body does not follow the schema"}
    return {200: {"model": AnnotateResponse, "content": {
        media: {} for media in sorted(set(MEDIA_TYPES.values()) - {"application/json"})}},
        **{status: {"model": ErrorResponse, "description": description}
           for status, description in refusals.items()}}


def _add_request_schemas(app: FastAPI) -> None:
    """The endpoints read their bodies themselves (strict UTF-8 and JSON, limits
    first), so their request schemas are added to the generated one here."""
    _, definitions = models_json_schema([(AnnotateRequest, "validation"),
                                         (RenderRequest, "validation")],
                                        ref_template="#/components/schemas/{model}")

    def openapi() -> dict[str, Any]:
        if app.openapi_schema is None:
            schema = get_openapi(title=app.title, version=app.version,
                                 description=app.description, routes=app.routes)
            schema.setdefault("components", {}).setdefault("schemas", {}).update(
                definitions["$defs"])
            app.openapi_schema = schema
        return app.openapi_schema

    app.openapi = openapi  # type: ignore[method-assign]


def create_app(settings: Settings, service: Service | None = None) -> FastAPI:
    """The application; it builds its matcher at start-up unless given one."""

    @asynccontextmanager
    async def lifespan(app: FastAPI) -> AsyncIterator[None]:
        built = service if service is not None else await run_in_threadpool(
            Service.load, settings.release_path, settings.profile)
        LOG.info("HPO release %s: matcher built in %.2f s", built.version, built.build_seconds)
        app.state.service = built
        # One request at a time per core turns its body into an answer: more
        # would not be faster, and each holds its hits and answer meanwhile
        # (see the README on what bounds memory).
        app.state.workers = anyio.CapacityLimiter(os.cpu_count() or 1)
        yield

    app = FastAPI(title="corvanta", version="1",
                  description="Human Phenotype Ontology concepts in clinical text.",
                  docs_url=None, redoc_url=None, lifespan=lifespan)
    if settings.cors_origins:
        app.add_middleware(CORSMiddleware, allow_origins=list(settings.cors_origins),
                           allow_methods=["GET", "POST"], allow_headers=["Content-Type"])
    if settings.allowed_hosts:
        app.add_middleware(HostCheck, hosts=settings.allowed_hosts)

    @app.exception_handler(RequestError)
    async def refused(_: Request, error: RequestError) -> JSONResponse:
        # The rest of a body refused before it was read is not worth reading.
        unread = error.status in (408, 413)
        return _error(error.status, error.message, {"Connection": "close"} if unread else None)

    @app.exception_handler(HTTPException)
    async def http_error(_: Request, error: HTTPException) -> JSONResponse:
        return _error(error.status_code, str(error.detail), error.headers)  # 405: Allow

    @app.exception_handler(RequestValidationError)
    async def invalid(_: Request, error: RequestValidationError) -> JSONResponse:
        return _error(422, one_line(error.errors()))

    @app.exception_handler(_HungUp)
    async def hung_up(request: Request, _: _HungUp) -> Response:
        # Nobody reads an answer now: one line in the log, no traceback.
        LOG.info("%s %s: the connection closed before the body arrived", request.method,
                 request.url.path)
        return Response(status_code=400)

    @app.exception_handler(Exception)
    async def failed(_: Request, error: Exception) -> JSONResponse:
        LOG.exception("request failed", exc_info=error)
        return _error(500, "internal error")

    def current(request: Request) -> Service:
        built: Service = request.app.state.service
        return built

    async def answered(request: Request, format: Format,
                       documents: Callable[[Service, bytes], list[Document]]) -> Response:
        """Reads the body within its cap, then, in the thread pool (one
        request per core at a time), turns it into documents and writes them
        in `format`."""
        body = await _body(request, settings.max_body_bytes, settings.body_timeout)
        built = current(request)

        def work() -> bytes:
            return built.answer(documents(built, body), format)

        answer = await anyio.to_thread.run_sync(work, limiter=request.app.state.workers)
        return Response(answer, media_type=MEDIA_TYPES[format])

    @app.get("/v1/health", response_model=Health, tags=["service"])
    def health(request: Request) -> dict[str, str]:
        """200 and the release version once the matcher is built."""
        return {"status": "ok", "version": current(request).version}

    @app.get("/v1/release", response_model=ReleaseInfo, tags=["service"])
    def release(request: Request) -> dict[str, object]:
        """The release served: its version and its number of HP terms."""
        return current(request).release_info()

    @app.post("/v1/annotate", tags=["annotation"], openapi_extra=_request_body("AnnotateRequest"),
              responses=_formatted_responses(), response_class=Response)
    async def annotate(request: Request, format: Format = _FORMAT) -> Response:
        """Annotates one text or several documents: the records of every
        document, or the documents in another format."""
        return await answered(request, format, lambda built, body: built.annotate(
            read_annotate_request(body, settings.max_documents), settings.max_hits))

    @app.post("/v1/render", tags=["annotation"], openapi_extra=_request_body("RenderRequest"),
              responses=_formatted_responses(), response_class=Response)
    async def render(request: Request, format: Format = _FORMAT) -> Response:
        """Writes reviewed documents (records as /v1/annotate gave them, some
        marked excluded or left out) in a format, without recognizing again."""
        return await answered(request, format, lambda _, body: Service.reviewed(
            read_render_request(body, settings.max_documents), settings.max_hits))

    assets.add_routes(app)
    _add_request_schemas(app)
    return app


def app_from_environment() -> FastAPI:
    """The application of a worker process, set up as its parent said."""
    return create_app(Settings.from_environment())
