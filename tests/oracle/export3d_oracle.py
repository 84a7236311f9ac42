#!/usr/bin/python3
"""Reads the program's binary STL and COLLADA exports back with independent
readers.

The script runs the gtest Export3DTest.OracleDump of <build-dir>/tests/test_export,
which writes a crystal (rutile, with thermal ellipsoids drawn cut away with
principal ellipses and axes, polyhedra, two-colour spheres, dashed and
banded bonds, a dashed cell, vectors and the surface) and a molecule
(benzene, decorated alike) in all six model types as .stl and .dae, with a
manifest of what the program counted. Then:
  - the STL size is 84 + 50 x its count, and the count is ours;
  - `assimp info` reads every STL and finds our number of faces;
  - `assimp info` reads every .dae: meshes and materials, one camera and
    three lights;
  - python3-collada loads every .dae with no broken reference, and its
    triangle, polylist and line counts are ours;
  - xmllint validates every .dae against the COLLADA 1.4.1 schema (the copy
    python3-collada ships, with a catalog for the XML namespace schema it
    imports, so that nothing is fetched).
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

import collada

SCHEMA_DIR = os.path.join(os.path.dirname(collada.__file__), "resources")


def assimp_info(path):
    run = subprocess.run(["assimp", "info", path], capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError(f"assimp could not read {path}: {run.stderr.strip()[-300:]}")
    out = {}
    for key in ("Meshes", "Materials", "Cameras", "Lights", "Faces"):
        m = re.search(rf"^{key}:\s+(\d+)", run.stdout, re.M)
        out[key] = int(m.group(1)) if m else None
    return out


def pycollada_counts(path):
    doc = collada.Collada(path, ignore=[])
    counts = {"triangles": 0, "polylist": 0, "lines": 0}
    for geometry in doc.geometries:
        for prim in geometry.primitives:
            if isinstance(prim, collada.triangleset.TriangleSet):
                counts["triangles"] += len(prim)
            elif isinstance(prim, collada.polylist.Polylist):
                counts["polylist"] += len(prim)
            elif isinstance(prim, collada.lineset.LineSet):
                counts["lines"] += len(prim)
    return counts, len(doc.geometries), len(doc.materials)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    args = parser.parse_args()

    failures = []
    with tempfile.TemporaryDirectory() as out:
        env = dict(os.environ, OV_EXPORT3D_DUMP_DIR=out, QT_QPA_PLATFORM="offscreen")
        run = subprocess.run([os.path.join(args.build_dir, "tests/test_export"),
                              "--gtest_filter=Export3DTest.OracleDump"], env=env, capture_output=True, text=True)
        if run.returncode != 0 or not os.path.exists(os.path.join(out, "manifest.txt")):
            print(run.stdout[-3000:], run.stderr[-3000:])
            print("FAIL: the dump did not run")
            return 1

        catalog = os.path.join(out, "catalog.xml")
        with open(catalog, "w") as f:
            f.write('<catalog xmlns="urn:oasis:names:tc:entity:xmlns:xml:catalog">'
                    '<system systemId="http://www.w3.org/2001/03/xml.xsd" uri="file://%s"/></catalog>\n'
                    % os.path.join(SCHEMA_DIR, "xsd.xml"))
        rows = [line.rstrip("\n").split("\t") for line in open(os.path.join(out, "manifest.txt"))]
        daes = []
        for stem, triangles, tri, poly, lines, geometries, materials in rows:
            # STL
            stl = os.path.join(out, stem + ".stl")
            data = open(stl, "rb").read()
            count = struct.unpack_from("<I", data, 80)[0]
            if count != int(triangles) or len(data) != 84 + 50 * count:
                failures.append(f"{stem}.stl: count {count}, size {len(data)}, ours {triangles}")
            info = assimp_info(stl)
            if info["Faces"] != int(triangles):
                failures.append(f"{stem}.stl: assimp finds {info['Faces']} faces, ours {triangles}")
            # COLLADA
            dae = os.path.join(out, stem + ".dae")
            daes.append(dae)
            info = assimp_info(dae)
            if not info["Meshes"] or not info["Materials"] or info["Cameras"] != 1 or info["Lights"] != 3:
                failures.append(f"{stem}.dae: assimp finds {info}")
            try:
                counts, ngeom, nmat = pycollada_counts(dae)
            except Exception as e:  # a broken reference or an unreadable element
                failures.append(f"{stem}.dae: python3-collada: {type(e).__name__}: {e}")
                continue
            ours = {"triangles": int(tri), "polylist": int(poly), "lines": int(lines)}
            if counts != ours or ngeom != int(geometries) or nmat != int(materials):
                failures.append(f"{stem}.dae: python3-collada counts {counts}, {ngeom} geometries, {nmat} "
                                f"materials; ours {ours}, {geometries}, {materials}")
            print(f"{stem}: {triangles} STL triangles; {ours}")

        env = dict(os.environ, XML_CATALOG_FILES=catalog)
        run = subprocess.run(["xmllint", "--nonet", "--noout", "--schema",
                              os.path.join(SCHEMA_DIR, "schema-1.4.1.xml")] + daes,
                             env=env, capture_output=True, text=True)
        valid = run.stderr.count(" validates")
        if run.returncode != 0 or valid != len(daes):
            failures.append("xmllint: " + "\n".join(l for l in run.stderr.splitlines()
                                                      if "validates" not in l)[:3000])

    for f in failures:
        print("FAIL:", f)
    print(f"{len(rows) * 2 - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
