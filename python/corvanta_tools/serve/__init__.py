"""The HTTP service (extra [serve]): the API under /v1, its OpenAPI schema and
docs page, and a page for reviewing the hits of a note in a browser.

`corvanta_tools.serve.app.create_app(Settings(path))` is the application;
`corvanta_tools.serve.server.serve` runs it under uvicorn, as `corvanta serve`
does."""
