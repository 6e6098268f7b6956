"""The request body of /v1/annotate and /v1/render: its schema, and its
strict reading (UTF-8, JSON, the schema's types) into documents, every fault
a `RequestError` with a one-line message."""
from __future__ import annotations

import json
import re
from collections.abc import Mapping, Sequence
from typing import Any, Literal, TypeVar

from pydantic import BaseModel, ConfigDict, Field, ValidationError, model_validator

from corvanta_tools.serve.records import AssertionIn, RecordIn

__all__ = ["AnnotateRequest", "AssertionIn", "DocumentIn", "Format", "RenderRequest", "RequestError", "one_line",
           "parse_json", "read_annotate_request", "read_render_request"]

Format = Literal["json", "phenopacket", "bioc-json", "pubtator", "tsv"]

_STRICT = ConfigDict(extra="forbid", strict=True)


class RequestError(Exception):
    """A request the service refuses: its HTTP status and a one-line reason."""

    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status
        self.message = message


class DocumentIn(BaseModel):
    model_config = _STRICT
    id: str | None = Field(None, description="any name; default: the position, from 1")
    text: str


def _text_or_documents(schema: dict[str, Any]) -> None:
    """The published schema says what the validator below checks: exactly one
    of "text" and "documents", neither of them null."""
    properties = schema["properties"]
    properties["text"] = {"type": "string", "title": "Text"}
    properties["documents"] = {"type": "array", "title": "Documents",
                               "items": properties["documents"]["anyOf"][0]["items"]}
    schema["oneOf"] = [{"required": ["text"]}, {"required": ["documents"]}]


class AnnotateRequest(BaseModel):
    """One text, or several documents; `longest` drops matches nested inside
    longer ones; `assertion` says how every record's assertion status is
    found: "context" (the toolkit's own ConText, the default), "medspacy"
    (the [medspacy] extra) or "library" (none, only `excluded`); `profile`
    chooses the recognition (default: the service's), the accurate profile
    with switches after a "+" ("accurate+most-specific")."""

    model_config = ConfigDict(extra="forbid", strict=True, json_schema_extra=_text_or_documents)
    text: str | None = None
    documents: list[DocumentIn] | None = None
    longest: bool = False
    assertion: Literal["context", "medspacy", "library"] = "context"
    profile: Literal["exact", "accurate", "accurate+outside-subtree", "accurate+most-specific",
                     "accurate+outside-subtree+most-specific"] | None = None

    @model_validator(mode="after")
    def _one_input(self) -> AnnotateRequest:
        if (self.text is None) == (self.documents is None):
            raise ValueError('give either "text" or "documents"')
        return self

    def named_documents(self) -> list[tuple[str, str]]:
        """(id, text) of every document, in order."""
        if self.documents is None:
            return [("1", self.text or "")]
        return [(d.id if d.id is not None else str(n), d.text)
                for n, d in enumerate(self.documents, start=1)]


def _span_fault(name: str, span: list[int] | None, length: int) -> str | None:
    if span is None:
        return None
    start, end = span
    if start > end:
        return f"{name} {span} is reversed"
    if end > length:
        return f"{name} {span} ends past the text ({length} {name.split('_')[0]}s)"
    return None


class ReviewedDocument(BaseModel):
    model_config = ConfigDict(extra="ignore", strict=True)
    id: str
    text: str = ""
    records: list[RecordIn]

    @model_validator(mode="after")
    def _spans_within_text(self) -> ReviewedDocument:
        """Every span lies in the text, start before end: the writers cut the
        text at these offsets."""
        lowered_bytes = len(self.text.lower().encode("utf-8"))
        for n, record in enumerate(self.records):
            fault = (_span_fault("char_span", record.char_span, len(self.text))
                     or _span_fault("byte_span", record.byte_span, lowered_bytes))
            if fault is not None:
                raise ValueError(f"records.{n}: {fault}")
        return self


class RenderRequest(BaseModel):
    """Documents with their (reviewed) records, to be written in a format."""

    model_config = ConfigDict(extra="ignore", strict=True)
    documents: list[ReviewedDocument]


def one_line(errors: Sequence[Mapping[str, Any]]) -> str:
    """The first of pydantic's errors, where and what, as one line."""
    first = errors[0]
    where = ".".join(str(part) for part in first["loc"])
    message = str(first["msg"]).replace("Value error, ", "")
    more = len(errors) - 1
    return (f"{where}: {message}" if where else message) + (f" (and {more} more)" if more else "")


# JSON may spell a lone surrogate, which no UTF-8 text holds; a pair of
# escapes for one character outside the BMP is fine.
_SURROGATE_ESCAPE = re.compile(r"\\u[dD][89a-fA-F]")


def _encodable(value: Any) -> bool:
    try:
        json.dumps(value, ensure_ascii=False).encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True


def parse_json(body: bytes) -> Any:
    """The body as JSON text in UTF-8, nothing else."""
    try:
        text = body.decode("utf-8")
    except UnicodeDecodeError as error:
        raise RequestError(400, f"the body is not UTF-8 (byte {error.start})") from None
    try:
        value = json.loads(text)
    except json.JSONDecodeError as error:
        raise RequestError(400, f"malformed JSON: {error.msg} at line {error.lineno} "
                                f"column {error.colno}") from None
    except RecursionError:
        raise RequestError(400, "malformed JSON: nested too deeply") from None
    except ValueError:  # an integer past Python's limit on digits (sys.get_int_max_str_digits)
        raise RequestError(400, "malformed JSON: a number with too many digits") from None
    if _SURROGATE_ESCAPE.search(text) and not _encodable(value):
        raise RequestError(422, "a string holds a lone surrogate escape (\\ud800 to \\udfff), "
                                "which is not text")
    return value


def _check_count(value: Any, max_documents: int) -> None:
    if isinstance(value, dict):
        documents = value.get("documents")
        if isinstance(documents, list) and len(documents) > max_documents:
            raise RequestError(413, f"{len(documents)} documents in one request; at most "
                                    f"{max_documents} are accepted")


_Request = TypeVar("_Request", bound=BaseModel)


def _validated(model: type[_Request], body: bytes, max_documents: int) -> _Request:
    value = parse_json(body)
    _check_count(value, max_documents)
    try:
        return model.model_validate(value)
    except ValidationError as error:
        raise RequestError(422, one_line(error.errors())) from None


def read_annotate_request(body: bytes, max_documents: int) -> AnnotateRequest:
    return _validated(AnnotateRequest, body, max_documents)


def read_render_request(body: bytes, max_documents: int) -> RenderRequest:
    return _validated(RenderRequest, body, max_documents)
