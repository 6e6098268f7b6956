"""`corvanta serve`: the HTTP service and its review page (extra [serve])."""
from __future__ import annotations

import argparse
import sys
import time

from corvanta_tools.cli.errors import EXIT_USAGE, CliError, missing_extra
from corvanta_tools.cli.profile import add_profile_option, profile_of
from corvanta_tools.cli.matcher import (add_release_options, matcher_for, release_for,
                                        release_path_for)
from corvanta_tools.serve.settings import (DEFAULT_BODY_TIMEOUT, DEFAULT_HEAD_TIMEOUT,
                                           DEFAULT_MAX_BODY_BYTES, DEFAULT_MAX_DOCUMENTS,
                                           DEFAULT_MAX_HITS, Settings)

__all__ = ["register"]


def register(commands: argparse._SubParsersAction[argparse.ArgumentParser]) -> None:
    parser = commands.add_parser(
        "serve", help="serve the annotation API and the review page over HTTP",
        description="Serve POST /v1/annotate, GET /v1/health, GET /v1/release, the OpenAPI "
                    "schema (/openapi.json, /docs) and a review page (/) over HTTP. Stops "
                    "cleanly on SIGTERM or SIGINT once the requests in flight are answered.")
    add_release_options(parser)
    add_profile_option(parser)
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to bind (default: 127.0.0.1, this machine only)")
    parser.add_argument("--port", type=_port, default=8000, help="port (default: 8000)")
    parser.add_argument("--workers", type=int, default=1,
                        help="worker processes, each with its own matcher (default: 1; one "
                             "process already uses several cores)")
    parser.add_argument("--max-body-bytes", type=int, default=DEFAULT_MAX_BODY_BYTES,
                        metavar="N", help="larger request bodies are refused with 413 "
                                          f"(default: {DEFAULT_MAX_BODY_BYTES})")
    parser.add_argument("--max-documents", type=int, default=DEFAULT_MAX_DOCUMENTS, metavar="N",
                        help="more documents in one request are refused with 413 "
                             f"(default: {DEFAULT_MAX_DOCUMENTS})")
    parser.add_argument("--max-hits", type=int, default=DEFAULT_MAX_HITS, metavar="N",
                        help="a request whose answer would hold more hits is refused with 413 "
                             f"(default: {DEFAULT_MAX_HITS})")
    parser.add_argument("--head-timeout", type=_seconds, default=DEFAULT_HEAD_TIMEOUT,
                        metavar="SECONDS", help="a request's head must arrive within this time, "
                                                f"else 408 (default: {DEFAULT_HEAD_TIMEOUT:g})")
    parser.add_argument("--body-timeout", type=_seconds, default=DEFAULT_BODY_TIMEOUT,
                        metavar="SECONDS", help="a request's body must arrive within this time "
                                                "of its head, else 408 (default: "
                                                f"{DEFAULT_BODY_TIMEOUT:g})")
    parser.add_argument("--cors-origin", action="append", default=[], metavar="ORIGIN",
                        help="let pages from ORIGIN call the API (repeatable; default: none)")
    parser.add_argument("--allow-host", action="append", default=[], metavar="NAME",
                        help="answer requests for host NAME too (repeatable; '*': any). Bound "
                             "to loopback, the service answers only localhost and the address "
                             "it is bound to, against DNS rebinding; bound elsewhere, any name")
    parser.add_argument("--no-access-log", dest="access_log", action="store_false",
                        help="do not log every request")
    parser.set_defaults(run=run)


def _port(text: str) -> int:
    port = int(text) if text.isdigit() else 0
    if not 1 <= port <= 65535:
        raise argparse.ArgumentTypeError(f"{text!r} is not a port (1 to 65535)")
    return port


def _seconds(text: str) -> float:
    try:
        seconds = float(text)
    except ValueError:
        seconds = 0.0
    if not 0 < seconds < float("inf"):
        raise argparse.ArgumentTypeError(f"{text!r} is not a positive number of seconds")
    return seconds


def run(args: argparse.Namespace) -> int:
    for name in ("workers", "max_body_bytes", "max_documents", "max_hits"):
        if getattr(args, name) < 1:
            raise CliError(EXIT_USAGE, f"--{name.replace('_', '-')} must be at least 1")
    try:
        from corvanta_tools.serve.hosts import allowed_hosts
        from corvanta_tools.serve.server import listening_socket, serve
        from corvanta_tools.serve.service import Service
    except ImportError as error:
        raise missing_extra("serve", "serve", error) from None
    profile = profile_of(args)
    started = time.perf_counter()
    service = Service(matcher_for(args), release_for(args), time.perf_counter() - started, profile)
    try:
        sock = listening_socket(args.host, args.port)
    except OSError as error:
        raise CliError(EXIT_USAGE, f"cannot listen on {args.host} port {args.port}: "
                                   f"{error.strerror or error}") from None
    settings = Settings(release_path_for(args), max_body_bytes=args.max_body_bytes,
                        max_documents=args.max_documents, max_hits=args.max_hits,
                        cors_origins=tuple(args.cors_origin),
                        allowed_hosts=allowed_hosts(sock.getsockname()[0],
                                                    tuple(args.allow_host)),
                        head_timeout=args.head_timeout, body_timeout=args.body_timeout,
                        profile=profile)
    if args.workers == 1:
        return serve(settings, sock, 1, service, args.access_log)
    print(f"corvanta: HPO release {service.version} checked; each of {args.workers} worker "
          "processes builds its own matcher", file=sys.stderr)
    del service
    return serve(settings, sock, args.workers, access_log=args.access_log)
