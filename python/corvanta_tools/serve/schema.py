"""The shapes of the service's JSON answers, for its OpenAPI schema."""
from __future__ import annotations

from pydantic import BaseModel, Field

__all__ = ["AnnotateResponse", "ErrorResponse", "Health", "ReleaseInfo"]


class ModifierOut(BaseModel):
    category: str = Field(description="NEGATED_EXISTENCE, POSSIBLE_EXISTENCE, HISTORICAL, "
                                      "HYPOTHETICAL or FAMILY")
    text: str = Field(description="the trigger phrase")
    char_span: tuple[int, int] = Field(description="str (code point) indices of the trigger")


class AssertionOut(BaseModel):
    is_negated: bool
    is_uncertain: bool
    is_historical: bool
    is_hypothetical: bool
    is_family: bool = Field(description="said of a family member, not the patient")
    modifiers: list[ModifierOut] = Field(description="the triggers behind the categories")


class RecordOut(BaseModel):
    term_id: str = Field(description="the concept, HP:NNNNNNN")
    label: str = Field(description="the label or synonym that matched")
    term_label: str | None = Field(description="the term's official label")
    char_span: tuple[int, int] | None = Field(
        description="str (code point) indices of the document; null when not mappable")
    byte_span: tuple[int, int] = Field(description="UTF-8 bytes of the lower-cased document")
    excluded: bool = Field(description="the mention lies in the scope of a negation")
    text: str = Field(description="the text the span covers")
    assertion: AssertionOut | None = Field(
        None, description="the mention's assertion status; absent with assertion \"library\"")


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
