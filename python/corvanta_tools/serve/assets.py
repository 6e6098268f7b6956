"""The review page and the docs page, served from files shipped with the
package (the docs page's scripts from swagger-ui-bundle-v2), so that both work
without any network. The page may load nothing but its own script and style."""
from __future__ import annotations

from collections.abc import Callable
from importlib.resources import files
from pathlib import Path

from fastapi import FastAPI
from fastapi.openapi.docs import get_swagger_ui_html
from fastapi.responses import FileResponse, HTMLResponse, Response
from swagger_ui_bundle import swagger_ui_path  # type: ignore[import-untyped]

from corvanta_tools.report import STYLE as REPORT_STYLE

__all__ = ["PAGE_POLICY", "add_routes"]

PAGE_POLICY = ("default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
               "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'")

_STATIC = files("corvanta_tools.serve") / "static"
_DOCS_FILES = {"swagger-ui-bundle.js": "text/javascript", "swagger-ui.css": "text/css",
               "favicon-32x32.png": "image/png"}


def _static(name: str) -> str:
    return (_STATIC / name).read_text(encoding="utf-8")


def add_routes(app: FastAPI) -> None:
    page = _static("index.html")
    script = _static("page.js")
    style = REPORT_STYLE + _static("page.css")
    headers = {"Content-Security-Policy": PAGE_POLICY, "X-Content-Type-Options": "nosniff"}

    @app.get("/", include_in_schema=False)
    def index() -> HTMLResponse:
        return HTMLResponse(page, headers=headers)

    @app.get("/assets/page.js", include_in_schema=False)
    def page_script() -> Response:
        return Response(script, media_type="text/javascript", headers=headers)

    @app.get("/assets/page.css", include_in_schema=False)
    def page_style() -> Response:
        return Response(style, media_type="text/css", headers=headers)

    # Also at /favicon.ico, where browsers and crawlers look without a link.
    icon = _static("favicon.svg")
    for icon_path in ("/favicon.svg", "/favicon.ico"):
        app.add_api_route(icon_path, lambda: Response(icon, media_type="image/svg+xml", headers=headers),
                          include_in_schema=False)

    @app.get("/docs", include_in_schema=False)
    def docs() -> HTMLResponse:
        return get_swagger_ui_html(openapi_url="/openapi.json", title="corvanta API",
                                   swagger_js_url="/docs/swagger-ui-bundle.js",
                                   swagger_css_url="/docs/swagger-ui.css",
                                   swagger_favicon_url="/docs/favicon-32x32.png",
                                   # No badge from the online validator.
                                   swagger_ui_parameters={"validatorUrl": None})

    for name, media_type in _DOCS_FILES.items():
        app.add_api_route(f"/docs/{name}", _file_endpoint(Path(str(swagger_ui_path)) / name,
                                                          media_type),
                          methods=["GET"], include_in_schema=False)


def _file_endpoint(path: Path, media_type: str) -> Callable[[], FileResponse]:
    """An endpoint answering one fixed file; it takes no parameters at all."""

    def endpoint() -> FileResponse:
        return FileResponse(path, media_type=media_type)

    return endpoint
