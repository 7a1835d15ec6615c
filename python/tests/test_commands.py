"""The commands through the module: its arguments reach the command as the
command line's words do (the same object comes back), arrays come back in
their shapes and units, and a failure raises the command's message. The
figures themselves are the C++ tests' to check."""
import sys

import numpy as np
import pytest
import sorvan

from conftest import ROOT, sorvan_cli

# Keys that depend on the clock or on where the file went.
TIMING = {"seconds", "file", "files"}


def without_timing(value):
    if isinstance(value, dict):
        return {k: without_timing(v) for k, v in value.items() if k not in TIMING}
    if isinstance(value, list):
        return [without_timing(v) for v in value]
    return value


@pytest.mark.parametrize("options, words", [
    ({"length_unit": "mm"}, ["--length-unit", "mm"]),
    ({"direct": True, "stiffness": 2.5e6, "large_field": True},
     ["--direct", "--stiffness", "2500000.0", "--large-field"]),
])
def test_convert_and_check_as_the_command_line(vehicle, options, words):
    map_file, base = vehicle
    out = map_file.with_name("out.bdf")  # the header names the deck as given
    ours = sorvan.convert(map_file, base, output=out, check=True, **options)
    out.rename(map_file.with_name("py.bdf"))
    theirs, status = sorvan_cli("convert", map_file, base, "-o", out, "--check", *words)
    assert status == 0 and ours["check"]["passed"]
    assert without_timing(ours) == without_timing(theirs)
    assert out.read_bytes() == map_file.with_name("py.bdf").read_bytes()
    report = sorvan.check(out, map_file, base, tolerance=0.02)
    theirs, status = sorvan_cli("check", out, "--map", map_file, "--abc", base,
                                "--tolerance", "0.02")
    assert status == 0 and without_timing(report) == without_timing(theirs)


def test_command_failures_raise_the_message(vehicle, tmp_path):
    map_file, base = vehicle
    with pytest.raises(sorvan.Error, match="--length-unit.*furlong"):
        sorvan.convert(map_file, base, length_unit="furlong")
    with pytest.raises(sorvan.Error, match="cannot load plug-in"):
        sorvan.convert(map_file, base, plugin=tmp_path / "none.so")
    with pytest.raises(ValueError, match="11 m"):
        sorvan.iri(np.zeros(50), 0.1)
    assert not map_file.with_suffix(".bdf").exists()


def test_road_as_the_command_line(tmp_path):
    tracks, summary = sorvan.road(400.0, 0.1, tracks=2, seed=9, cls="C", corr_length=3.0)
    theirs, status = sorvan_cli("road", tmp_path / "r.rsp", "--length", "400", "--interval",
                                "0.1", "--tracks", "2", "--seed", "9", "--class", "C",
                                "--corr-length", "3")
    assert status == 0 and without_timing(summary) == without_timing(theirs)
    assert tracks.shape == (2, summary["samples"]) and tracks.flags.c_contiguous
    for k in range(2):  # in metres
        assert sorvan.iri(tracks[k], 0.1) == pytest.approx(summary["tracks"][k]["iri_m_per_km"],
                                                           rel=1e-12)
        assert np.sqrt(np.mean(tracks[k] ** 2)) * 1e3 == pytest.approx(
            summary["tracks"][k]["rms_mm"], rel=1e-12)


def test_profile_written_and_read_back(tmp_path):
    x = np.arange(4000) * 0.05
    z = np.vstack([5 * np.sin(2 * np.pi * x / 2), np.full(x.size, 1.25)])
    sorvan.write_rpc3(tmp_path / "p.rsp", z, 0.05, labels=["sine", "flat"], floating=True)
    p = sorvan.read_profile(tmp_path / "p.rsp")
    theirs, status = sorvan_cli("profile", tmp_path / "p.rsp")
    assert status == 0
    assert {k: v for k, v in p.items() if k != "channels"} == \
           {k: v for k, v in theirs.items() if k not in ("channels", "files")}
    assert [c["label"] for c in p["channels"]] == ["sine", "flat"]
    np.testing.assert_array_equal(p["channels"][0]["values"], z[0].astype(np.float32))


def test_the_example_of_the_readme(tmp_path):
    sys.path.insert(0, str(ROOT / "python"))
    try:
        import example
    finally:
        sys.path.pop(0)
    model, deck, report = example.quarter_car(tmp_path)
    for letter in "abcd":
        assert (tmp_path / f"quarter_{letter}").read_bytes() == \
               (ROOT / "examples" / "quarter" / f"quarter_{letter}").read_bytes()
    assert report["ok"] and deck["cards"]["TF"] > 0
    tracks, summary, iri = example.class_c_road()
    assert summary["tracks"][0]["class"] == "C"
    assert iri == pytest.approx(summary["tracks"][0]["iri_m_per_km"], rel=1e-12)


def test_commands_from_several_threads_agree(vehicle):
    from concurrent.futures import ThreadPoolExecutor

    def work(seed):
        _, summary = sorvan.road(200.0, 0.1, seed=seed)
        return summary["tracks"][0]["iri_m_per_km"], sorvan.Model.read(*vehicle).A.tobytes()

    alone = [work(seed) for seed in (1, 2, 3, 4)]
    with ThreadPoolExecutor(4) as pool:
        assert list(pool.map(work, (1, 2, 3, 4))) == alone


def test_ride_as_the_command_line():
    fullcar = ROOT / "examples" / "fullcar"
    inputs = ["road_fl=left@0", "road_fr=right@0", "road_rl=left@2.7", "road_rr=right@2.7"]
    report = sorvan.ride(fullcar / "fullcar.map", fullcar / "fullcar_", inputs, road="class:B",
                         speed=50, output=[32], duration=10)
    words = [w for i in inputs for w in ("--input", i)]
    expected, status = sorvan_cli("ride", fullcar / "fullcar.map", fullcar / "fullcar_", *words,
                                  "--road", "class:B", "--speed", "50", "--output", "32",
                                  "--duration", "10")
    assert status == 0 and without_timing(report) == without_timing(expected)
