import json
import os
import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
VEHICLE = ROOT / "examples" / "vehicle"
QUARTER = ROOT / "examples" / "quarter"


def sorvan_cli(*words):
    """The command line's JSON object and exit status for the same words."""
    program = os.environ.get("SORVAN_CLI")
    if not program:
        pytest.fail("SORVAN_CLI names no sorvan program (ctest sets it)")
    done = subprocess.run([program, *map(str, words), "--json"], capture_output=True, text=True)
    return json.loads(done.stdout), done.returncode


@pytest.fixture
def vehicle(tmp_path):
    """A copy of the bundled vehicle model: (MAP file, ABC base)."""
    for f in VEHICLE.glob("vehicle*"):
        shutil.copy(f, tmp_path / f.name)
    return tmp_path / "vehicle.map", tmp_path / "vehicle_"
