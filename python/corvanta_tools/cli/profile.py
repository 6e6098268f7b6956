"""--profile and --switch (the accurate profile's switches), which
annotate, evaluate and serve share."""
from __future__ import annotations

import argparse

from corvanta_tools.accuracy.profiles import (DEFAULT_PROFILE, PROFILES, SWITCHES, check_profile,
                                              profile_named)
from corvanta_tools.cli.errors import EXIT_USAGE, CliError

__all__ = ["add_profile_option", "profile_of"]

def add_profile_option(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--profile", choices=PROFILES, default=DEFAULT_PROFILE,
                        help="exact (default): the library's recognition as it is; accurate: "
                             "more of the right terms and fewer wrong ones (one-word labels "
                             "never hide longer terms, one-word matches checked against their "
                             "label, coordinated mentions), at about a third of its speed; its "
                             "switches follow a '+' or come with --switch")
    parser.add_argument("--switch", action="append", choices=tuple(SWITCHES), default=[],
                        help="a switch of the accurate profile, off by default (repeatable): "
                             "outside-subtree also finds mode of inheritance and onset terms; "
                             "most-specific keeps, of two nested hits whose terms are ancestor "
                             "and descendant, only the descendant")


def profile_of(args: argparse.Namespace) -> str:
    """--profile with the switches of --switch, checked."""
    try:
        profile = check_profile(args.profile)
        if not args.switch:
            return profile
        base, *named = profile.split("+")
        if base != "accurate":
            raise ValueError("--switch needs --profile accurate")
        return profile_named(base, [*named, *args.switch])
    except ValueError as error:
        raise CliError(EXIT_USAGE, str(error)) from None
