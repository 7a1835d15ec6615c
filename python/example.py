"""The quarter car of examples/quarter built in numpy, converted and checked;
a class C road and its roughness.

    PYTHONPATH=build/python /usr/bin/python3 python/example.py [FOLDER]
"""
import pathlib
import sys

import numpy as np
import sorvan


def quarter_car(folder):
    ms, mu, ks, cs, kt = 400.0, 40.0, 20e3, 1.5e3, 200e3  # kg, N/m, N*s/m
    A = np.array([[0, 0, 1, 0], [0, 0, 0, 1],
                  [-ks / ms, ks / ms, -cs / ms, cs / ms],
                  [ks / mu, -(ks + kt) / mu, cs / mu, -cs / mu]])
    B = np.array([[0], [0], [0], [kt / mu]])  # the road elevation, m
    C = np.zeros((8, 4))
    C[[0, 1, 4, 7], [0, 2, 0, 1]] = 1  # body z and z'; nodes 1 and 2 move in z
    model = sorvan.Model(A, B, C, np.zeros((8, 1)),
                         inputs=[{"kind": "external", "name": "road_elevation"}],
                         outputs=[{"point": 1, "component": 3, "kind": 1},
                                  {"point": 1, "component": 3, "kind": 2}],
                         units={"length": "meter", "angle": "degree"},
                         nodes=[{"id": 1, "position": (0, 0, 0.6), "outputs": (3, 4, 5)},
                                {"id": 2, "position": (0, 0, 0.3), "outputs": (6, 7, 8)}],
                         elements=[{"id": 1, "nodes": (1, 2)}])
    model.write(folder / "quarter.map", folder / "quarter_")
    deck = sorvan.convert(folder / "quarter.map", folder / "quarter_")
    report = sorvan.check(deck["file"], folder / "quarter.map", folder / "quarter_")
    return model, deck, report


def class_c_road():
    tracks, summary = sorvan.road(1000.0, 0.1, cls="C", seed=4)
    return tracks, summary, sorvan.iri(tracks[0], 0.1)


if __name__ == "__main__":
    folder = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    model, deck, report = quarter_car(folder)
    for mode in sorvan.modes(model):
        print(f"mode {mode['frequency_hz']:.4f} Hz, damping {mode['damping_ratio']:.4f}")
    print(f"{deck['file']}: {deck['cards']['TF']} TF cards; check {'passed' if report['ok'] else 'failed'}")
    tracks, summary, iri = class_c_road()
    print(f"class C road: {tracks.shape[1]} samples, IRI {iri:.3f} m/km "
          f"(expected {summary['iri_expected_m_per_km']:.3f}), rated {summary['tracks'][0]['class']}")
