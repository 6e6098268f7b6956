"""The service's models of a record and of its assertion, made from the field
table (corvanta_tools.fields): `RecordOut` and `AssertionOut` describe what
/v1/annotate answers; `RecordIn` and `AssertionIn` read such records back for
/v1/render, strictly, with absent optional values taken as null (false for a
flag).
"""
from __future__ import annotations

from typing import TYPE_CHECKING, Annotated, Any, TypeAlias

from pydantic import BaseModel, ConfigDict, Field, create_model

from corvanta_tools.fields import FIELDS, FLAG_COLUMNS, FLAG_DESCRIPTIONS

__all__ = ["AssertionIn", "AssertionOut", "ModifierIn", "ModifierOut", "RecordIn", "RecordOut",
           "Span"]

# A [start, end] pair as a request spells it.
Span = Annotated[list[Annotated[int, Field(ge=0)]], Field(min_length=2, max_length=2)]

_READ_BACK = ConfigDict(extra="ignore", strict=True)


class ModifierOut(BaseModel):
    category: str = Field(description="NEGATED_EXISTENCE, POSSIBLE_EXISTENCE, HISTORICAL, "
                                      "HYPOTHETICAL or FAMILY")
    text: str = Field(description="the trigger phrase")
    char_span: tuple[int, int] = Field(description="str (code point) indices of the trigger")


class ModifierIn(BaseModel):
    model_config = _READ_BACK
    category: str
    text: str
    char_span: Span


def _assertion_model(name: str, modifier: type[BaseModel], answered: bool,
                     doc: str | None = None) -> type[BaseModel]:
    """The assertion's five flags and its modifiers: required and described
    in an answer, defaulted when read back."""
    fields: dict[str, Any] = {
        flag: (bool, Field(description=FLAG_DESCRIPTIONS[flag]) if answered else False)
        for flag in FLAG_COLUMNS}
    fields["modifiers"] = (list[modifier],  # type: ignore[valid-type]  # a model made here
                           Field(description="the triggers behind the categories")
                           if answered else [])
    return create_model(name, __config__=None if answered else _READ_BACK, __doc__=doc,
                        **fields)


def _record_model(name: str, span: Any, assertion: type[BaseModel], answered: bool,
                  doc: str | None = None) -> type[BaseModel]:
    """A record without its document's id (the document holds the records):
    in an answer every field is there but the assertion, described; read
    back, a nullable field may be absent."""
    kinds: dict[str, Any] = {"name": str, "text": str, "span": span, "flag": bool,
                             "assertion": assertion}
    fields: dict[str, Any] = {}
    for field in FIELDS:
        if field.name == "document":
            continue
        annotation = kinds[field.kind] | None if field.nullable else kinds[field.kind]
        optional = field.kind == "assertion" or (field.nullable and not answered)
        extra: dict[str, Any] = {"description": field.description} if answered else {}
        fields[field.name] = (annotation, Field(None, **extra) if optional else Field(**extra))
    return create_model(name, __config__=None if answered else _READ_BACK, __doc__=doc,
                        **fields)


if TYPE_CHECKING:  # made at import: to mypy, values of any shape
    AssertionOut: TypeAlias = Any
    AssertionIn: TypeAlias = Any
    RecordOut: TypeAlias = Any
    RecordIn: TypeAlias = Any
else:
    AssertionOut = _assertion_model("AssertionOut", ModifierOut, answered=True)
    AssertionIn = _assertion_model("AssertionIn", ModifierIn, answered=False,
                                   doc="A record's assertion as /v1/annotate answered it.")
    RecordOut = _record_model("RecordOut", tuple[int, int], AssertionOut, answered=True)
    RecordIn = _record_model("RecordIn", Span, AssertionIn, answered=False,
                             doc="A record as /v1/annotate answered it, possibly changed by "
                                 "review.")
