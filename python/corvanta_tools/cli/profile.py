"""--profile, which annotate, evaluate and serve share."""
from __future__ import annotations

import argparse

from corvanta_tools.accuracy.profiles import DEFAULT_PROFILE, PROFILES, check_profile
from corvanta_tools.cli.errors import EXIT_USAGE, CliError

__all__ = ["add_profile_option", "profile_of"]


def add_profile_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--profile", choices=PROFILES, default=DEFAULT_PROFILE,
                        help="exact (default): the library's recognition as it is; accurate: "
                             "more of the right terms and fewer wrong ones (one-word labels "
                             "never hide longer terms, one-word matches checked against their "
                             "label, coordinated and predicative mentions), at about a third "
                             "of the speed")


def profile_of(args: argparse.Namespace) -> str:
    """--profile, checked."""
    try:
        return check_profile(args.profile)
    except ValueError as error:
        raise CliError(EXIT_USAGE, str(error)) from None
