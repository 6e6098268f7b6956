"""The native ConText engine: one table of short sentences of our own, by
category and then by scope rule, the rule table's checks, and the whole path from
annotation without spaCy."""
import re
import subprocess
import sys

import pytest

from corvanta_tools.context import assertions, assess, default_lexicon, engine, read_rules
from corvanta_tools.records import Document, Record


def judged(marked):
    """The assertion of the mention in [brackets]; mentions in {braces} are
    the text's other mentions (their words act on nothing)."""
    spans, text, target = [], "", None
    for piece in re.split(r"([\[\]{}])", marked):
        if piece in "[{" and piece:
            start = len(text)
        elif piece in "]}" and piece:
            spans.append((start, len(text)))
            target = len(spans) - 1 if piece == "]" else target
        else:
            text += piece
    return text, assertions(text, spans)[target]


def case(marked, flags=(), triggers=()):
    return pytest.param(marked, tuple(flags.split()) if flags else (), triggers, id=marked)


@pytest.mark.parametrize("marked,flags,triggers", [
    # Negations.
    case("No [seizures].", "negated", ["No"]),
    case("Denies [chest pain] or shortness of breath.", "negated", ["Denies"]),
    case("Denies chest pain or [shortness of breath].", "negated", ["Denies"]),
    case("No fevers, chills, or [night sweats].", "negated", ["No"]),
    case("Negative for [seizures].", "negated", ["Negative for"]),
    case("Seizures without [fever].", "negated", ["without"]),
    case("Without evidence of [ataxia].", "negated", ["Without"]),
    case("Absence of [nystagmus] on exam.", "negated", ["Absence of"]),
    case("Free of [seizures] since March.", "negated", ["Free of"]),
    case("The patient denied [headache].", "negated", ["denied"]),
    case("[Headache]: denies.", "negated", ["denies"]),
    case("No cough or [tremor] since the last visit, and denies headache.", "negated", ["No"]),
    case("[Tremor] was not seen.", "negated", ["not seen"]),
    case("[Seizures] were ruled out.", "negated", ["ruled out"]),
    case("We ruled out [sepsis].", "negated", ["ruled out"]),
    case("The [fever] resolved.", "negated", ["resolved"]),
    case("[Seizure]-free for a year.", "negated", ["free"]),
    case("[Fever]: none.", "negated", ["none"]),
    case("He does not have [ataxia].", "negated", ["not"]),
    case("He doesn\u2019t have [ataxia].", "negated", ["doesn\u2019t"]),
    case("Neither [ataxia] nor tremor.", "negated", ["Neither"]),
    case("No history of [seizures].", "negated", ["No history of"]),

    # Uncertainty.
    case("Possible [hypotonia].", "uncertain", ["Possible"]),
    case("Suspected [scoliosis].", "uncertain", ["Suspected"]),
    case("Questionable [tremor] on the left.", "uncertain", ["Questionable"]),
    case("[Seizures] cannot be excluded.", "uncertain", ["cannot be excluded"]),
    case("Plan: rule out [epilepsy].", "uncertain", ["rule out"]),
    case("r/o [Rett syndrome].", "uncertain", ["r/o"]),
    case("[Syncope] vs seizure.", "uncertain", ["vs"]),

    # Past findings; a history that is not the patient's past is none.
    case("History of [stroke].", "historical", ["History of"]),
    case("H/o [seizures] in 2019.", "historical", ["H/o"]),
    case("Status post [fracture] of the femur.", "historical", ["Status post"]),
    case("[Seizures] in the past.", "historical", ["in the past"]),
    case("History of present illness: [fever] for three days."),
    case("The natural history of [ataxia] is slow."),
    case("Prior surgery for a small benign tumour of the [knee]."),  # beyond the window

    # Hypotheticals.
    case("Return if [fever] develops.", "hypothetical", ["Return if"]),
    case("If she develops [fever], call us.", "hypothetical", ["If"]),
    case("Should [seizures] recur, give diazepam.", "hypothetical", ["Should"]),
    case("Acts as if [deaf]."),

    # Family members.
    case("His mother has [short stature].", "family", ["mother"]),
    case("[Short stature] in his mother.", "family", ["mother"]),
    case("Mother and sister have [short stature].", "family", ["sister"]),
    case("Family history of [obesity].", "family", ["Family history"]),
    case("A maternal aunt with [seizures].", "family", ["aunt"]),
    case("No family history of [seizures].", "negated family", ["No", "family history"]),
    case("Per mother, he has had [seizures]."),
    case("A boy born to healthy parents presented with [seizures]."),
    case("His father had seizures and the patient has [ataxia]."),

    # Scope. Pseudo-triggers hide the trigger they hold.
    case("No increase in [seizures]."),
    case("Not only [ataxia] but also tremor."),
    case("No change in the [ataxia]."),
    case("Walks without difficulty despite [ataxia]."),
    case("Cleft lip with or without [cleft palate]."),
    # Terminators and sentence ends.
    case("No fever but [ataxia]."),
    case("No fever, however [ataxia] is present."),
    case("Denies pain except [headache]."),
    case("He does not walk independently and has [hypotonia]."),
    case("No fever; [ataxia] present."),
    case("No fever. [Ataxia] present."),
    case("Denies fever? [Ataxia] noted."),
    case("No fever\n[Ataxia] on exam."),
    case("Review of systems:\n- no cough\n- [seizures]"),
    # What does not end a sentence: a hard-wrapped line, an abbreviation, a decimal.
    case("There is no evidence of\n[ataxia].", "negated", ["no evidence of"]),
    case("No signs, e.g. [ataxia] or tremor.", "negated", ["No"]),
    case("Seen by Dr. Lee, no [seizures].", "negated", ["no"]),
    case("Denies taking 2.5 mg or [headache].", "negated", ["Denies"]),
    # Direction: a forward trigger does not reach back, a backward one not ahead.
    case("[Ataxia] without fever."),
    case("Ruled out for sepsis, [fever] persists.", "negated", ["Ruled out for"]),
    case("Tremor not seen, [ataxia] present."),
    # Windows: "absent" reaches one word back; "not" six ahead.
    case("[Reflexes] absent.", "negated", ["absent"]),
    case("[Ataxia] with absent reflexes."),
    case("It is not the case that the boy ever had any [ataxia]."),
    # A trigger of the same category ends the scope of the one before it.
    case("No fever, no [chills].", "negated", ["no"]),
    # A trigger inside a mention is part of the concept's name.
    case("[Ataxia] and {absent speech}."),
    case("{Absent speech} and [tremor]."),
])
def test_assertion(marked, flags, triggers):
    text, assertion = judged(marked)
    assert assertion.flags == flags
    assert [m.text for m in assertion.modifiers] == list(triggers)
    for modifier in assertion.modifiers:
        assert text[slice(*modifier.char_span)] == modifier.text


@pytest.mark.skipif(engine.scan is None,
                    reason="corvanta_tools._context is not built (a source tree on the path)")
@pytest.mark.parametrize("text", [
    "no  fever,\tdenies\n\nheadache; doesn\u2019t have r/o w/o vs. s/p",
    "piano nota: not-only no_change, not only; nothing",
    "\u00e9no, no\u00e9, caf\u00e9 denies\u00a0fever, no\u2014fever, x\u00b2no \u00b0no",
    "history of present illness: no family history of seizures; if not, return if",
    "no",
])
def test_compiled_search_finds_what_the_pattern_finds(text):
    lexicon = default_lexicon()
    found = engine.scan(text, lexicon.table)
    compiled = [(found[k], found[k + 1], lexicon.phrases[found[k + 2]])
                for k in range(0, len(found), 3)]
    assert compiled == [(m.start(), m.end(), lexicon.rules_of(m.group()))
                        for m in lexicon.pattern().finditer(text)]


def test_spans_come_back_in_the_order_given():
    text = "Possible tremor. No ataxia."
    found = assertions(text, [(20, 26), (9, 15), (20, 26)])
    assert [a.flags for a in found] == [("negated",), ("uncertain",), ("negated",)]
    assert assertions(text, []) == []


def test_assess_places_records_without_str_offsets_by_their_bytes():
    # U+0130 lower-cases to two characters: byte and str offsets part after it,
    # and the text is searched without lower-casing it.
    text = "\u0130 NO ataxia."
    record = Record("d", "HP:0001251", "ataxia", None, None, (7, 13), False, "ataxia")
    placed = Record("d", "HP:0001251", "ataxia", None, (5, 11), (7, 13), False, "ataxia")
    document = assess(Document("d", text, [record, placed]))
    for assessed in document.records:
        assert assessed.assertion.flags == ("negated",)
        assert [(m.text, m.char_span) for m in assessed.assertion.modifiers] == [("NO", (2, 4))]
    assert document.records[0].char_span is None


@pytest.mark.parametrize("line,message", [
    ("Fever\tNEGATED_EXISTENCE\tforward\t-\t", "lower case"),
    ("fever\tNEGATED\tforward\t-\t", "unknown category"),
    ("fever\tNEGATED_EXISTENCE\tsideways\t-\t", "direction"),
    ("fever\tPSEUDO\tforward\t-\t", "only a trigger"),
    ("fever\tTERMINATE:SOMETHING\t-\t-\t", "unknown category"),
    ("fever\tHISTORICAL\tforward\t0\t", "at least one word"),
    ("no\tPSEUDO\t-\t-\t", "has a rule already"),
    ("no\tNEGATED_EXISTENCE\tboth\t3\t", "has a rule already"),
])
def test_rule_table_faults_are_reported_with_their_line(line, message):
    lines = ["# comment", "phrase\tcategory\tdirection\twindow\tcomment",
             "no\tNEGATED_EXISTENCE\tforward\t-\t", line]
    with pytest.raises(ValueError, match=message) as error:
        read_rules(lines, "t.tsv")
    assert "t.tsv:4" in str(error.value)


def test_done_when_sentence_without_spacy():
    """The issue's example, annotated and assessed in a process where spaCy
    cannot be imported."""
    script = (
        "import sys\n"
        "sys.modules['spacy'] = None\n"
        "from corvanta_tools import annotate, default_matcher\n"
        "from corvanta_tools.context import assess\n"
        "text = ('No seizures. His mother has short stature. Possible hypotonia. '\n"
        "        'Seizures were ruled out. Return if fever develops.')\n"
        "for r in assess(annotate(default_matcher(), 'n', text)).records:\n"
        "    print(r.text, ','.join(r.assertion.flags))\n")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert out.stdout.splitlines() == ["seizures negated", "short stature family",
                                       "hypotonia uncertain", "Seizures negated",
                                       "fever hypothetical"]
