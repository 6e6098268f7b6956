"""The shapes of the service's JSON answers, for its OpenAPI schema."""
from __future__ import annotations

from pydantic import BaseModel, Field

from corvanta_tools.serve.records import RecordOut

__all__ = ["AnnotateResponse", "ErrorResponse", "Health", "ReleaseInfo"]


class DocumentOut(BaseModel):
    id: str
    records: list[RecordOut]


class AnnotateResponse(BaseModel):
    release: str = Field(description="version of the HPO release")
    documents: list[DocumentOut]


class Health(BaseModel):
    status: str
    version: str


class ReleaseInfo(BaseModel):
    version: str
    hp_terms: int = Field(description="HP terms in the release (obsolete ones not counted)")


class ErrorResponse(BaseModel):
    error: str = Field(description="why the request was refused, in one line")
