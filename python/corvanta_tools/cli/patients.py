"""`corvanta annotate --patients MAP.csv`: the annotated notes grouped by
patient, one Phenopacket per patient."""
from __future__ import annotations

import argparse
import contextlib
import os
import sys
from collections.abc import Iterable
from pathlib import Path

from corvanta_tools.cli.errors import EXIT_INPUT, EXIT_OUTPUT, EXIT_USAGE, CliError
from corvanta_tools.cli.inputs import STDIN, display_name
from corvanta_tools.cli.outputs import atomic_file
from corvanta_tools.hierarchy import Hierarchy
from corvanta_tools.patients import (NoteRow, PatientMapError, group_by_patient, notes_of_inputs,
                                     read_patient_map)
from corvanta_tools.records import Document
from corvanta_tools.releases import Release

__all__ = ["add_patient_options", "patient_rows", "write_patients"]


def add_patient_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--patients", metavar="MAP.csv",
                        help="group the notes by patient (a CSV file with the columns note, "
                             "patient and optionally date): with --format phenopacket, one "
                             "Phenopacket per patient (DIR/<patient>.json with -o DIR/)")
    parser.add_argument("--most-specific", action="store_true",
                        help="with --patients: leave out a present term when one of its "
                             "descendants is present")


def mapped_rows(path: str, inputs: list[str]) -> dict[str, NoteRow]:
    """The map row of each input, keyed by the input's document id."""
    if STDIN in inputs:
        raise CliError(EXIT_USAGE, "--patients needs named input files, not standard input")
    try:
        rows = read_patient_map(path)
    except OSError as error:
        raise CliError(EXIT_INPUT, f"cannot read {display_name(path)}: "
                                   f"{error.strerror or error}") from None
    except (PatientMapError, UnicodeDecodeError) as error:
        raise CliError(EXIT_INPUT, f"patient map: {error}") from None
    try:
        assigned = notes_of_inputs(rows, inputs)
    except PatientMapError as error:
        raise CliError(EXIT_INPUT, f"--patients {display_name(path)}: {error}") from None
    return {display_name(name): row for name, row in assigned.items()}


def patient_rows(args: argparse.Namespace, inputs: list[str]) -> dict[str, NoteRow] | None:
    """The map rows of `annotate`'s inputs when --patients is given (checked
    against the other options before any work), else None."""
    if args.patients is None:
        if args.most_specific:
            raise CliError(EXIT_USAGE, "--most-specific works with --patients")
        return None
    if args.format != "phenopacket" or args.input_format != "text":
        raise CliError(EXIT_USAGE, "--patients works with --format phenopacket on text inputs")
    return mapped_rows(args.patients, inputs)


def write_patients(args: argparse.Namespace, release: Release, documents: Iterable[Document],
                   rows: dict[str, NoteRow]) -> None:
    """One Phenopacket per patient: DIR/<patient>.json when -o names a
    directory, else JSON lines to -o or standard output."""
    from corvanta_tools.formats.patient_phenopacket import patient_files, write_patients_jsonl
    patients = group_by_patient(documents, rows)
    hierarchy = Hierarchy.of(release) if args.most_specific else None
    output = args.output
    target = display_name(output) if output else "standard output"
    try:
        if output is not None and (output.endswith(("/", os.sep)) or os.path.isdir(output)):
            Path(output).mkdir(parents=True, exist_ok=True)
            for name, content in patient_files(release.version, patients, hierarchy):
                with atomic_file(os.path.join(output, name)) as out:
                    out.write(content)
            return
        with contextlib.ExitStack() as stack:
            out = stack.enter_context(atomic_file(output)) if output else sys.stdout
            write_patients_jsonl(out, release.version, patients, hierarchy)
            out.flush()
    except BrokenPipeError:
        raise
    except OSError as error:
        raise CliError(EXIT_OUTPUT, f"cannot write {target}: {error.strerror or error}") from None
