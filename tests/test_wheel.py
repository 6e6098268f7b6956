"""`scripts/build-wheels.sh` gives one manylinux abi3 wheel that carries its
libraries: installed into fresh environments of the oldest and the newest
supported interpreter, it runs where the system's ICU, simdjson and libstemmer
cannot be loaded."""
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


@pytest.fixture(scope="module")
def build(tmp_path_factory):
    out = tmp_path_factory.mktemp("dist")
    result = subprocess.run(["bash", ROOT / "scripts" / "build-wheels.sh", out], capture_output=True, text=True,
                            env=plain_environment())
    assert result.returncode == 0, result.stderr[-4000:]
    wheels = [path.name for path in out.glob("*.whl")]
    wheel_name = r"corvanta-[^-]+-cp310-abi3-manylinux_2_\d+_x86_64\.whl"
    assert len(wheels) == 1 and re.fullmatch(wheel_name, wheels[0]), wheels
    return out / wheels[0], " ".join(result.stdout.split())


@pytest.fixture(scope="module")
def wheel(build):
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


def test_auditwheel_names_the_manylinux_tag(build):
    wheel, report = build
    tag = re.search(r"manylinux_2_\d+_x86_64", wheel.name)[0]
    assert f'is consistent with the following platform tag: "{tag}"' in report, report


def test_wheel_contents(wheel):
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        entry_points = next(archive.read(n).decode() for n in names if n.endswith("entry_points.txt"))
    assert {"corvanta.abi3.so", "corvanta.pyi", "corvanta-stubs/__init__.pyi", "corvanta_tools/py.typed",
            "corvanta_tools/__init__.py", "corvanta_tools/cli/__init__.py",
            f"corvanta_tools/data/{EMBEDDED_RELEASE.name}", "corvanta_tools/data/README.md"} <= names
    assert "corvanta = corvanta_tools.cli:main" in entry_points
    # ICU and simdjson come along; libstemmer is linked in statically.
    bundled = sorted(re.sub(r"-[0-9a-f]{8}\..*", "", n[len("corvanta.libs/"):])
                     for n in names if n.startswith("corvanta.libs/") and ".so" in n)
    assert bundled == ["libicudata", "libicuuc", "libsimdjson"]


@pytest.mark.parametrize("version", ["3.10", "3.13"])
def test_runs_without_the_system_libraries(wheel, clean_room, version, tmp_path):
    requirements()
    python = interpreter(version)
    if python is None:
        pytest.skip(f"Python {version} is not installed")
    wrap, sonames = clean_room
    bin_dir = fresh_venv(python, tmp_path / "venv", wheel, wrap)
    assert run([bin_dir / "python", "-c", LOADABLE, *sonames], wrap).stdout == "", "loadable in the clean room"
    check_installation(bin_dir, tmp_path, wrap)
