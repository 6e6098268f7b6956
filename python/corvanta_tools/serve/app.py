"""The web application: the versioned API, its schema and docs page, and the
review page. Recognition, parsing and rendering run in the thread pool, never
on the event loop; the extension recognizes without holding the GIL, so one
process serves concurrent requests on several cores."""
from __future__ import annotations

import logging
from collections.abc import AsyncIterator, Callable
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

from corvanta_tools.records import Document
from corvanta_tools.serve import assets
from corvanta_tools.serve.payload import (AnnotateRequest, Format, RenderRequest, RequestError,
                                          one_line, read_annotate_request, read_render_request)
from corvanta_tools.serve.schema import AnnotateResponse, Health, ReleaseInfo
from corvanta_tools.serve.service import MEDIA_TYPES, Service
from corvanta_tools.serve.settings import Settings

__all__ = ["app_from_environment", "create_app"]

LOG = logging.getLogger("uvicorn.error")

_FORMAT = Query("json", description="json (records per document), phenopacket (JSON lines, one "
                                    "Phenopacket per document), bioc-json, pubtator or tsv")


def _error(status: int, message: str) -> JSONResponse:
    return JSONResponse({"error": message}, status_code=status)


async def _body(request: Request, cap: int) -> bytes:
    """The request body, refused with 413 as soon as it exceeds `cap` bytes."""
    declared = request.headers.get("content-length", "")
    if declared.isdigit() and int(declared) > cap:
        raise RequestError(413, f"the body exceeds {cap} bytes")
    content_type = request.headers.get("content-type", "").split(";")[0].strip().lower()
    if content_type != "application/json" and not content_type.endswith("+json"):
        raise RequestError(415, "send the body as application/json")
    chunks = []
    size = 0
    async for chunk in request.stream():
        size += len(chunk)
        if size > cap:
            raise RequestError(413, f"the body exceeds {cap} bytes")
        chunks.append(chunk)
    return b"".join(chunks)


def _request_body(model: str) -> dict[str, Any]:
    return {"requestBody": {"required": True, "content": {
        "application/json": {"schema": {"$ref": f"#/components/schemas/{model}"}}}}}


def _formatted_responses() -> dict[int | str, dict[str, Any]]:
    return {200: {"model": AnnotateResponse, "content": {
        media: {} for media in sorted(set(MEDIA_TYPES.values()) - {"application/json"})}},
        413: {"description": "body or document count over the limit"},
        422: {"description": "the body does not follow the schema"}}


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
            Service.load, settings.release_path)
        LOG.info("HPO release %s: matcher built in %.2f s", built.version, built.build_seconds)
        app.state.service = built
        yield

    app = FastAPI(title="corvanta", version="1",
                  description="Human Phenotype Ontology concepts in clinical text.",
                  docs_url=None, redoc_url=None, lifespan=lifespan)
    if settings.cors_origins:
        app.add_middleware(CORSMiddleware, allow_origins=list(settings.cors_origins),
                           allow_methods=["GET", "POST"], allow_headers=["Content-Type"])

    @app.exception_handler(RequestError)
    async def refused(_: Request, error: RequestError) -> JSONResponse:
        return _error(error.status, error.message)

    @app.exception_handler(HTTPException)
    async def http_error(_: Request, error: HTTPException) -> JSONResponse:
        return _error(error.status_code, str(error.detail))

    @app.exception_handler(RequestValidationError)
    async def invalid(_: Request, error: RequestValidationError) -> JSONResponse:
        return _error(422, one_line(error.errors()))

    @app.exception_handler(Exception)
    async def failed(_: Request, error: Exception) -> JSONResponse:
        LOG.exception("request failed", exc_info=error)
        return _error(500, "internal error")

    def current(request: Request) -> Service:
        built: Service = request.app.state.service
        return built

    async def answered(request: Request, format: Format,
                       documents: Callable[[Service, bytes], list[Document]]) -> Response:
        """Reads the body within its cap, then, in the thread pool, turns it
        into documents and writes them in `format`."""
        body = await _body(request, settings.max_body_bytes)
        built = current(request)

        def work() -> bytes:
            return built.answer(documents(built, body), format)

        return Response(await run_in_threadpool(work), media_type=MEDIA_TYPES[format])

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
            read_annotate_request(body, settings.max_documents)))

    @app.post("/v1/render", tags=["annotation"], openapi_extra=_request_body("RenderRequest"),
              responses=_formatted_responses(), response_class=Response)
    async def render(request: Request, format: Format = _FORMAT) -> Response:
        """Writes reviewed documents (records as /v1/annotate gave them, some
        marked excluded or left out) in a format, without recognizing again."""
        return await answered(request, format, lambda _, body: Service.reviewed(
            read_render_request(body, settings.max_documents)))

    assets.add_routes(app)
    _add_request_schemas(app)
    return app


def app_from_environment() -> FastAPI:
    """The application of a worker process, set up as its parent said."""
    return create_app(Settings.from_environment())
