"""Models and matrices through the module: arrays in and out (dtype, order,
shape, every bit), the model's attributes as Python values, and the
arguments the module refuses itself."""
import resource

import numpy as np
import pytest
import sorvan

from conftest import QUARTER

MS, MU, KS, CS, KT = 400.0, 40.0, 20e3, 1.5e3, 200e3


def test_abc_round_trip_is_exact(tmp_path):
    rng = np.random.default_rng(7)
    values = rng.integers(0, 2**64, size=(40, 7), dtype=np.uint64).view(np.float64).copy()
    values[~np.isfinite(values)] = 1.0
    values[0, :] = [0.0, -0.0, 5e-324, -2.2250738585072014e-308, 1.7976931348623157e308,
                    0.1, -1e-300]
    sorvan.write_abc(tmp_path / "m_a", values)
    back = sorvan.read_abc(tmp_path / "m_a")
    assert back.dtype == np.float64 and back.flags.c_contiguous
    assert back.tobytes() == values.tobytes()


def test_abc_refuses_non_finite_and_leaves_no_file(tmp_path):
    with pytest.raises(ValueError, match=r"\[1, 0\] is not a finite number"):
        sorvan.write_abc(tmp_path / "m_a", np.array([[1.0], [np.nan]]))
    assert list(tmp_path.iterdir()) == []


def test_reader_errors_carry_the_message(tmp_path):
    with pytest.raises(sorvan.Error, match="cannot read .*nothing_a"):
        sorvan.read_abc(tmp_path / "nothing_a")
    damaged = tmp_path / "quarter.map"
    damaged.write_text((QUARTER / "quarter.map").read_text().replace("= 2\n", "= two\n", 1))
    with pytest.raises(sorvan.Error, match="quarter.map: the MAP file was refused"):
        sorvan.Model.read(damaged, QUARTER / "quarter_")


def test_quarter_car_read_from_the_example():
    m = sorvan.Model.read(QUARTER / "quarter.map", QUARTER / "quarter_")
    assert m.A.shape == (4, 4) and m.B.shape == (4, 1) and m.B[3, 0] == KT / MU
    assert m.inputs == [{"index": 1, "kind": "external", "name": "road_elevation",
                         "unit": "MAP units"}]
    assert [o["kind"] for o in m.outputs] == [1, 2, 3, 3, 3, 3, 3, 3]
    assert m.units == {"length": "METER", "angle": "DEGREE", "force": "NEWTON",
                       "mass": "KILOGRAM", "time": "SECOND"}
    assert m.nodes[1] == {"id": 2, "position": [0.0, 0.0, 0.3], "outputs": (6, 7, 8)}
    assert m.elements == [{"id": 1, "nodes": (1, 2)}]
    modes = sorvan.modes(m)
    assert modes == sorvan.modes(m.A) and len(modes) == 2 and "frequency_hz" in modes[0]


def test_model_write_read_round_trip(vehicle, tmp_path):
    m = sorvan.Model.read(*vehicle)
    m.write(tmp_path / "again.map", tmp_path / "again_")
    back = sorvan.Model.read(tmp_path / "again.map", tmp_path / "again_")
    for name in "ABCD":
        assert getattr(back, name).tobytes() == getattr(m, name).tobytes()
    for name in ("inputs", "outputs", "units", "nodes", "elements", "wheels"):
        assert getattr(back, name) == getattr(m, name), name
    assert (back.grid_id_offset, back.element_id_offset) == (1000000, 2000000)


@pytest.mark.parametrize("attribute, value, message", [
    ("B", np.zeros((3, 1)), "B is 3 x 1, not 4 x 1"),
    ("units", {"length": "furlong"}, '"furlong" is no length unit'),
    ("inputs", [{"kind": "external", "name": "a\nb"}], "one line"),
    ("nodes", [{"id": 1, "position": (0, 0), "outputs": (3, 4, 5)}] * 2, "holds 2 values, not 3"),
    ("nodes", [{"id": 1, "position": (0, 0, 0), "outputs": (3, 4, 9)}] * 2,
     '"outputs" holds 9, not 1 to 8'),
    ("elements", [{"id": 1, "nodes": (1, 3)}], '"nodes" holds 3, not 1 to 2'),
    ("outputs", [{"point": 2**31, "component": 3, "kind": 1}] * 2, '"point" holds'),
    ("outputs", [{"point": 1, "component": 7, "kind": 2}] * 2, '"component" holds 7'),
])
def test_model_write_refuses_what_the_map_file_cannot_say(tmp_path, attribute, value, message):
    broken = sorvan.Model.read(QUARTER / "quarter.map", QUARTER / "quarter_")
    setattr(broken, attribute, value)
    with pytest.raises(ValueError, match=message):
        broken.write(tmp_path / "x.map", tmp_path / "x_")
    assert list(tmp_path.iterdir()) == []


def test_frequency_response_is_frequencies_by_outputs_by_inputs():
    m = sorvan.Model.read(QUARTER / "quarter.map", QUARTER / "quarter_")
    f = np.array([0.0, 1.0, 10.0])
    h = sorvan.frequency_response(m, f)
    assert h.shape == (3, 8, 1) and h.dtype == np.complex128
    s = 2j * np.pi * f  # body over road: kt (cs s + ks) / the characteristic polynomial
    body = KT * (CS * s + KS) / np.polyval(
        [MS * MU, CS * (MS + MU), MS * (KS + KT) + MU * KS, CS * KT, KS * KT], s)
    np.testing.assert_allclose(h[:, 0, 0], body, rtol=1e-12)
    np.testing.assert_allclose(h[:, 1, 0], s * body, rtol=1e-12, atol=1e-15)
    with pytest.raises(ValueError):
        sorvan.frequency_response(sorvan.Model(m.A, m.B[:3], m.C, m.D, [], []), f)


def test_no_leak_over_a_thousand_calls(tmp_path):
    sorvan.write_abc(tmp_path / "m_a", np.arange(2500.0).reshape(50, 50))

    def rss_kib():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * resource.getpagesize() // 1024

    for _ in range(100):
        sorvan.read_abc(tmp_path / "m_a")
    before = rss_kib()
    for _ in range(1000):
        sorvan.read_abc(tmp_path / "m_a")
        with pytest.raises(sorvan.Error):
            sorvan.read_abc(tmp_path / "none_a")
    assert rss_kib() - before < 2048
