"""`scripts/build-wheels.sh` gives a manylinux_2_17 abi3 wheel for each of
x86_64 and aarch64 with every library linked in: the x86_64 one, installed into
fresh environments of the oldest and the newest supported interpreter, runs
where the system's ICU, simdjson and libstemmer cannot be loaded, and
`scripts/check-wheel.sh` finds the same hits with both."""
import os
import re
import shlex
import subprocess
import zipfile

import pytest

from corvanta_tools.embedded import EMBEDDED_RELEASE
from fresh_install import ROOT, check_installation, fresh_venv, interpreter, plain_environment, requirements, run

# The system libraries the extension is built against.
SYSTEM_LIBRARY = re.compile(r"\s*(lib(?:icu\w*|simdjson|stemmer)\.so\S*) .*=> (\S+)$")
LOADABLE = """
import ctypes, sys
for name in sys.argv[1:]:
    try:
        ctypes.CDLL(name)
        print(name)
    except OSError:
        pass
"""


ARCHES = ["x86_64", "aarch64"]
# The scripts' exit status when what they need cannot be fetched or run here.
CANNOT_RUN = 77
MAX_WHEEL_BYTES = 5 * 1024 * 1024


@pytest.fixture(scope="module")
def build(tmp_path_factory):
    out = tmp_path_factory.mktemp("dist")
    result = subprocess.run(["bash", ROOT / "scripts" / "build-wheels.sh", out], capture_output=True, text=True,
                            env=plain_environment())
    if result.returncode == CANNOT_RUN:
        pytest.skip(result.stderr.strip().splitlines()[-1])
    assert result.returncode == 0, result.stderr[-4000:]
    names = sorted(path.name for path in out.glob("*.whl"))
    assert len(names) == len(ARCHES), names
    wheels = {}
    for arch in ARCHES:
        # auditwheel adds the manylinux2014 alias: ...-manylinux2014_x86_64.manylinux_2_17_x86_64.whl
        tag = rf"cp310-abi3-(manylinux2014_{arch}\.)?manylinux_2_17_{arch}"
        (wheels[arch],) = [out / n for n in names if re.fullmatch(rf"corvanta-[^-]+-{tag}\.whl", n)]
    return wheels, " ".join(result.stdout.split())


@pytest.fixture(scope="module")
def wheels(build):
    return build[0]


def system_libraries():
    """(soname, file) of every ICU, simdjson and libstemmer library in the loader's cache."""
    cache = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True).stdout
    return sorted({(m[1], os.path.realpath(m[2])) for m in map(SYSTEM_LIBRARY.match, cache.splitlines()) if m})


@pytest.fixture(scope="module")
def clean_room():
    """Wraps a command to run in a private mount namespace where /dev/null
    covers each system library file, so that none of them can be loaded."""
    libraries = system_libraries()
    mounts = "".join(f"mount --bind /dev/null {shlex.quote(path)} && " for path in {p for _, p in libraries})
    private = ["unshare", "--mount", "--propagation", "private"] + ([] if os.geteuid() == 0 else ["--map-root-user"])

    def wrap(command):
        return [*private, "sh", "-c", mounts + 'exec "$@"', "clean-room", *command]

    probe = subprocess.run(wrap(["true"]), capture_output=True, text=True)
    if probe.returncode != 0:
        pytest.skip(f"cannot make a mount namespace with the system libraries hidden: {probe.stderr.strip()}")
    return wrap, [soname for soname, _ in libraries]


@pytest.mark.parametrize("arch", ARCHES)
def test_auditwheel_names_the_manylinux_tag(build, arch):
    wheels, report = build
    verdict = f'{wheels[arch].name} is consistent with the following platform tag: "manylinux_2_17_{arch}"'
    assert verdict in report, report


@pytest.mark.parametrize("arch", ARCHES)
def test_wheel_contents(wheels, arch):
    assert wheels[arch].stat().st_size < MAX_WHEEL_BYTES
    with zipfile.ZipFile(wheels[arch]) as archive:
        names = set(archive.namelist())
        entry_points = next(archive.read(n).decode() for n in names if n.endswith("entry_points.txt"))
    assert {"corvanta.abi3.so", "corvanta_tools/_context.abi3.so", "corvanta_tools/_lines.abi3.so",
            "corvanta_tools/_accurate.abi3.so",
            "corvanta.pyi", "corvanta-stubs/__init__.pyi",
            "corvanta_tools/py.typed",
            "corvanta_tools/__init__.py", "corvanta_tools/cli/__init__.py",
            f"corvanta_tools/data/{EMBEDDED_RELEASE.name}", "corvanta_tools/data/README.md"} <= names
    assert "corvanta = corvanta_tools.cli:main" in entry_points
    # Every library is linked in: nothing is bundled beside the extension.
    assert not [n for n in names if n.startswith("corvanta.libs/")]


@pytest.mark.parametrize("version", ["3.10", "3.13"])
def test_runs_without_the_system_libraries(wheels, clean_room, version, tmp_path):
    requirements()
    python = interpreter(version)
    if python is None:
        pytest.skip(f"Python {version} is not installed")
    wrap, sonames = clean_room
    bin_dir = fresh_venv(python, tmp_path / "venv", wheels["x86_64"], wrap)
    assert run([bin_dir / "python", "-c", LOADABLE, *sonames], wrap).stdout == "", "loadable in the clean room"
    check_installation(bin_dir, tmp_path, wrap)


def test_every_wheel_finds_the_native_hits(wheels):
    result = subprocess.run(["bash", ROOT / "scripts" / "check-wheel.sh", *wheels.values()], capture_output=True,
                            text=True, env=plain_environment())
    if result.returncode == CANNOT_RUN:
        pytest.skip(result.stderr.strip().splitlines()[-1])
    assert result.returncode == 0, result.stderr[-4000:]
    assert result.stdout.count("ok ") == len(wheels), result.stdout
