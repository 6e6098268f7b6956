"""Fake `curl` and `wget` for the download tests: shell scripts in a `bin`
directory meant to be the whole PATH, so no network is used. Each logs its
arguments, one per line after their count, then runs a behaviour given as
shell code in which "$out" is the argument after -o or -O and "$d" its
directory."""
SCRIPT = """#!/bin/sh
PATH=/usr/bin:/bin
log='{log}'
printf '%s\\n' "$#" >> "$log"
for a in "$@"; do printf '%s\\n' "$a" >> "$log"; done
out=; prev=
for a in "$@"; do case $prev in -o|-O) out=$a;; esac; prev=$a; done
d=$(dirname "$out")
{behaviour}
"""


class FakeDownloads:
    def __init__(self, root):
        self.root = root
        self.bin = root / "bin"
        self.bin.mkdir(parents=True)

    def install(self, name, behaviour):
        script = self.bin / name
        script.write_text(SCRIPT.format(log=self.root / f"{name}.log", behaviour=behaviour))
        script.chmod(0o755)

    def calls(self, name):
        """One argument list per call of `name`, in call order."""
        log = self.root / f"{name}.log"
        lines = log.read_text().splitlines() if log.exists() else []
        result = []
        while lines:
            count = int(lines.pop(0))
            result.append(lines[:count])
            del lines[:count]
        return result
