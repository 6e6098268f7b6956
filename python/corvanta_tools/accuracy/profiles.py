"""The recognition profiles: "exact", the extension's own recognition as it
is, and "accurate", recognition with the levers of `recogniser`; and which
release file the accurate profile derives its release from."""
from __future__ import annotations

import corvanta

from corvanta_tools.accuracy.recogniser import AccurateRecogniser, accurate_recogniser
from corvanta_tools.embedded import EMBEDDED_VERSION, default_release_path

__all__ = ["DEFAULT_PROFILE", "PROFILES", "check_profile", "recogniser_for"]

PROFILES = ("exact", "accurate")
DEFAULT_PROFILE = "exact"


def check_profile(profile: str) -> str:
    """`profile` when it is one; ValueError otherwise."""
    if profile not in PROFILES:
        raise ValueError(f"unknown profile {profile!r}: choose one of {', '.join(PROFILES)}")
    return profile


def recogniser_for(matcher: corvanta.Corvanta, release: object | None) -> AccurateRecogniser:
    """The accurate recogniser of the release `matcher` was built from: the
    file of `release` (a corvanta_tools.releases.Release), or the embedded
    release when the matcher has its version. ValueError when neither says
    which file, or when the release and the matcher disagree on the version."""
    path = getattr(release, "path", None)
    version = getattr(release, "version", None)
    if isinstance(path, str) and isinstance(version, str):
        if version != matcher.version():
            raise ValueError(f"the release given ({version}) is not the matcher's "
                             f"({matcher.version()})")
        return accurate_recogniser(path)
    if matcher.version() == EMBEDDED_VERSION:
        return accurate_recogniser(default_release_path())
    raise ValueError("the accurate profile derives a release from the matcher's release file: "
                     "pass release=Release(path)")
