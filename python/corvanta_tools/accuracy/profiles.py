"""The recognition profiles: "exact", the extension's own recognition as it
is, and "accurate", recognition with the levers of `recogniser`; the
switches the accurate profile takes after a "+" ("accurate+most-specific"),
off by default because their sign depends on how a corpus is annotated; and
which release file the accurate profile derives its release from."""
from __future__ import annotations

import functools
from collections.abc import Iterable

import corvanta

from corvanta_tools.accuracy.recogniser import (ACCURATE, AccurateRecogniser, Levers,
                                                accurate_recogniser)
from corvanta_tools.embedded import EMBEDDED_VERSION, default_release_path

__all__ = ["BASE_PROFILES", "DEFAULT_PROFILE", "PROFILES", "SWITCHES", "check_profile",
           "levers_of", "profile_named", "recogniser_for"]

BASE_PROFILES = ("exact", "accurate")
DEFAULT_PROFILE = "exact"
# Each switch of the accurate profile, by its name in a profile, and the lever it turns on.
SWITCHES = {
    "outside-subtree": "outside_subtree",  # mode of inheritance and onset terms, as categories
    "most-specific": "most_specific",  # of nested ancestor and descendant hits, the descendant
}


def profile_named(base: str, switches: Iterable[str] = ()) -> str:
    """The profile `base` with `switches` on, its switches in SWITCHES order."""
    on = set(switches)
    return "+".join((base, *(switch for switch in SWITCHES if switch in on)))


# Every profile: the base profiles, and the accurate one with each set of switches.
PROFILES = ("exact", "accurate", "accurate+outside-subtree", "accurate+most-specific",
            "accurate+outside-subtree+most-specific")


def check_profile(profile: str) -> str:
    """`profile` when it is one; ValueError otherwise."""
    if profile not in PROFILES:
        raise ValueError(f"unknown profile {profile!r}: choose one of {', '.join(PROFILES)}")
    return profile


@functools.cache  # one entry per profile name: asked once per text
def levers_of(profile: str) -> Levers:
    """The levers of an accurate profile, with its switches."""
    return ACCURATE._replace(**{SWITCHES[switch]: True for switch in profile.split("+")[1:]})


def recogniser_for(matcher: corvanta.Corvanta, release: object | None,
                   profile: str = "accurate") -> AccurateRecogniser:
    """The recogniser of the accurate profile `profile` for the release
    `matcher` was built from: the file of `release` (a
    corvanta_tools.releases.Release), or the embedded release when the
    matcher has its version. ValueError when neither says which file, or
    when the release and the matcher disagree on the version."""
    levers = levers_of(check_profile(profile))
    path = getattr(release, "path", None)
    version = getattr(release, "version", None)
    if isinstance(path, str) and isinstance(version, str):
        if version != matcher.version():
            raise ValueError(f"the release given ({version}) is not the matcher's "
                             f"({matcher.version()})")
        return accurate_recogniser(path, levers)
    if matcher.version() == EMBEDDED_VERSION:
        return accurate_recogniser(default_release_path(), levers)
    raise ValueError("the accurate profile derives a release from the matcher's release file: "
                     "pass release=Release(path)")
