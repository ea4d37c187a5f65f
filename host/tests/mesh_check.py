#!/usr/bin/env python3
"""Reads back what `morlane convert` writes as meshes, with a reader of its own (json, struct),
and compares it with the model as `morlane info --json` lists it.

  mesh_check.py INFO.json FILE.glb|FILE.gltf|FILE.obj

glTF: the file's structure (the binary header and chunks, or the text with its .bin beside it),
every accessor inside its buffer view and every index inside its positions; the node tree
against the model tree (a node per group and part, the same names in the same order, one root
node above them), each part's materials the model's colour (linear, as glTF keeps colours) or,
for a part coloured solid by solid, each of its colours on some primitive, and
the placed meshes inside the model's box (metres, y up). OBJ: every face's vertices defined
before it, the header's counts, a group per part named by its path, each group's material in
the .mtl with the model's colour. Prints "triangles N" and exits 0, or prints what differs and
exits 1.
"""
import json
import math
import os
import struct
import sys

problems = []


def problem(text):
    problems.append(text)


def linear_to_srgb(c):
    return c * 12.92 if c <= 0.0031308 else 1.055 * c ** (1 / 2.4) - 0.055


# Colours compared as the display colours they are: the model's hexadecimal colours are the
# file's components times 255, truncated, so they are up to 1/255 below them.
TOLERANCE = 1.0 / 255 + 1e-3


def same_display(srgb, hex_text):
    return all(abs(a - b) <= TOLERANCE for a, b in zip(srgb, hex_colour(hex_text)))


def hex_colour(text):
    return [int(text[i:i + 2], 16) / 255.0 for i in (1, 3, 5)]


def exported(item):
    """The model items the export writes: groups, and parts with a solid (a box)."""
    if "children" in item:
        return True
    return item.get("box") is not None


def model_children(item):
    return [c for c in item.get("children", []) if exported(c)]


def count_items(item):
    return sum(1 + count_items(c) for c in model_children(item))


# --- glTF -----------------------------------------------------------------------------------

COMPONENT = {5120: ("b", 1), 5121: ("B", 1), 5122: ("h", 2), 5123: ("H", 2), 5125: ("I", 4),
             5126: ("f", 4)}
WIDTH = {"SCALAR": 1, "VEC2": 2, "VEC3": 3, "VEC4": 4, "MAT4": 16}


def read_glb(path):
    data = open(path, "rb").read()
    if len(data) < 20:
        sys.exit(f"{path}: too short for binary glTF")
    magic, version, length = struct.unpack_from("<4sII", data, 0)
    if magic != b"glTF" or version != 2:
        sys.exit(f"{path}: not binary glTF 2 (magic {magic!r}, version {version})")
    if length != len(data):
        problem(f"the header says {length} bytes, the file has {len(data)}")
    chunks, at = [], 12
    while at + 8 <= len(data):
        size, kind = struct.unpack_from("<I4s", data, at)
        chunks.append((kind, data[at + 8:at + 8 + size]))
        if at + 8 + size > len(data):
            problem(f"chunk {kind!r} runs past the end of the file")
        at += 8 + size + (-size % 4 if kind == b"JSON" and size % 4 else 0)
    if not chunks or chunks[0][0] != b"JSON":
        sys.exit(f"{path}: the first chunk is not JSON")
    gltf = json.loads(chunks[0][1].decode("utf-8"))
    binary = next((c for k, c in chunks[1:] if k == b"BIN\x00"), b"")
    buffers = []
    for i, b in enumerate(gltf.get("buffers", [])):
        if "uri" in b:
            problem(f"buffer {i} of a binary file refers to {b['uri']}")
        buffers.append(binary)
    return gltf, buffers


def read_gltf(path):
    gltf = json.load(open(path, encoding="utf-8"))
    buffers = []
    for i, b in enumerate(gltf.get("buffers", [])):
        uri = b.get("uri", "")
        if not uri or "/" in uri or uri.startswith("data:"):
            problem(f"buffer {i} has the uri {uri!r}, not a file beside the glTF")
            buffers.append(b"")
            continue
        beside = os.path.join(os.path.dirname(path), uri)
        data = open(beside, "rb").read() if os.path.isfile(beside) else b""
        if len(data) != b.get("byteLength"):
            problem(f"{uri} has {len(data)} bytes, the glTF says {b.get('byteLength')}")
        buffers.append(data)
    return gltf, buffers


def accessor_values(gltf, buffers, index):
    a = gltf["accessors"][index]
    view = gltf["bufferViews"][a["bufferView"]]
    fmt, size = COMPONENT[a["componentType"]]
    width = WIDTH[a["type"]]
    stride = view.get("byteStride", size * width)
    start = view.get("byteOffset", 0) + a.get("byteOffset", 0)
    buffer = buffers[view["buffer"]]
    end = start + stride * (a["count"] - 1) + size * width
    if end > view.get("byteOffset", 0) + view["byteLength"] or end > len(buffer):
        problem(f"accessor {index} runs past its buffer view or buffer")
        return []
    return [struct.unpack_from("<" + fmt * width, buffer, start + stride * i)
            for i in range(a["count"])]


def node_matrix(node):
    if "matrix" in node:
        m = node["matrix"]  # column major
        return [[m[c * 4 + r] for c in range(4)] for r in range(4)]
    t = node.get("translation", [0, 0, 0])
    x, y, z, w = node.get("rotation", [0, 0, 0, 1])
    s = node.get("scale", [1, 1, 1])
    r = [[1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)],
         [2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)],
         [2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)]]
    return [[r[i][0] * s[0], r[i][1] * s[1], r[i][2] * s[2], t[i]] for i in range(3)] + \
        [[0, 0, 0, 1]]


def multiply(a, b):
    return [[sum(a[i][k] * b[k][j] for k in range(4)) for j in range(4)] for i in range(4)]


def check_gltf(path, model):
    gltf, buffers = read_glb(path) if path.lower().endswith(".glb") else read_gltf(path)
    nodes = gltf.get("nodes", [])
    scene = gltf.get("scenes", [{}])[gltf.get("scene", 0)]
    roots = scene.get("nodes", [])
    if len(roots) != 1:
        problem(f"the scene has {len(roots)} root nodes, not the one of the model's root")
    expected = 1 + count_items(model)
    if len(nodes) != expected:
        problem(f"{len(nodes)} nodes, the model has {expected} (its root, groups and parts)")
    triangles = 0
    world = [[math.inf] * 3, [-math.inf] * 3]

    def walk(index, item, parent, where):
        nonlocal triangles
        node = nodes[index]
        m = multiply(parent, node_matrix(node))
        name = node.get("name", "")
        if item is not model and name != item["name"]:
            problem(f"{where}: node named {name!r}, the model has {item['name']!r}")
        kids = model_children(item)
        got = node.get("children", [])
        if "children" in item:
            if len(got) != len(kids):
                problem(f"{where}: {len(got)} children, the model has {len(kids)}")
            for k, (g, c) in enumerate(zip(got, kids)):
                walk(g, c, m, f"{where}/{c['name']}")
            return
        if "mesh" not in node:
            problem(f"{where}: a part without a mesh")
            return
        colour = item.get("color")
        seen = []
        for p in gltf["meshes"][node["mesh"]]["primitives"]:
            if "material" in p:
                seen.append(gltf["materials"][p["material"]]["pbrMetallicRoughness"][
                    "baseColorFactor"][:3])
            if p.get("mode", 4) != 4:
                problem(f"{where}: a primitive that is not triangles")
            positions = accessor_values(gltf, buffers, p["attributes"]["POSITION"])
            if "indices" in p:
                indices = [v[0] for v in accessor_values(gltf, buffers, p["indices"])]
                if indices and max(indices) >= len(positions):
                    problem(f"{where}: an index past the {len(positions)} positions")
                triangles += len(indices) // 3
            else:
                triangles += len(positions) // 3
            for v in positions:
                w = [sum(m[i][k] * v[k] for k in range(3)) + m[i][3] for i in range(3)]
                for i in range(3):
                    world[0][i] = min(world[0][i], w[i])
                    world[1][i] = max(world[1][i], w[i])
            if colour and item.get("colors") is None:
                factor = gltf["materials"][p["material"]]["pbrMetallicRoughness"][
                    "baseColorFactor"]
                shown = [linear_to_srgb(c) for c in factor[:3]]
                if not same_display(shown, colour):
                    problem(f"{where}: colour {factor[:3]} (shown as {shown}), the model's "
                            f"{colour}")
        # A part coloured solid by solid or face by face: each of its colours on some primitive.
        for c in (item.get("colors") or {}).get("distinct", []):
            if not any(same_display([linear_to_srgb(v) for v in f], c) for f in seen):
                problem(f"{where}: no primitive in {c}, the primitives are in {seen}")

    if roots:
        walk(roots[0], model, [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]],
             model["name"])
    # The model's (exact) box in millimetres, z up, as glTF's metres, y up: (x, z, -y).
    box = model.get("box")
    if box and triangles:
        lo = [box[0] / 1000, box[2] / 1000, -box[4] / 1000]
        hi = [box[3] / 1000, box[5] / 1000, -box[1] / 1000]
        for i in range(3):
            extent = hi[i] - lo[i]
            tolerance = 1e-3 * max(extent, 1e-3)
            if world[0][i] < lo[i] - tolerance or world[1][i] > hi[i] + tolerance:
                problem(f"axis {i}: the meshes reach {world[0][i]:.6f}..{world[1][i]:.6f}, "
                        f"outside the model's box {lo[i]:.6f}..{hi[i]:.6f}")
            if world[1][i] - world[0][i] < 0.9 * extent:
                problem(f"axis {i}: the meshes span {world[1][i] - world[0][i]:.6f} of the "
                        f"model's {extent:.6f}")
    return triangles


# --- OBJ ------------------------------------------------------------------------------------

def obj_name(name):
    return "".join("_" if ord(c) <= 0x20 or ord(c) == 0x7f or c == "#" else c for c in name)


def leaf_paths(item, prefix):
    for c in model_children(item):
        path = prefix + [c["name"]]
        if "children" in c:
            yield from leaf_paths(c, path)
        else:
            yield "/".join(obj_name(n) for n in path), c


def check_obj(path, model):
    vertices = faces = 0
    header = {}
    groups = {}
    group = None
    mtllib = None
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        words = line.split()
        if not words:
            continue
        key = words[0]
        if key == "#" and len(words) == 3 and words[1] in ("Vertices:", "Faces:"):
            header[words[1]] = int(words[2])
        elif key == "v":
            vertices += 1
            if len(words) != 4 or not all(math.isfinite(float(w)) for w in words[1:]):
                problem(f"line {number}: a vertex is not three numbers")
        elif key == "f":
            faces += 1
            refs = [int(w.split("/")[0]) for w in words[1:]]
            if len(refs) != 3 or any(r < 1 or r > vertices for r in refs):
                problem(f"line {number}: a face refers to a vertex not defined before it")
        elif key == "g":
            if len(words) != 2:
                problem(f"line {number}: a group name with spaces: {line.strip()!r}")
            group = groups.setdefault(" ".join(words[1:]), set())
        elif key == "usemtl":
            if group is None:
                problem(f"line {number}: a material outside a group")
            else:
                group.add(" ".join(words[1:]))
        elif key == "mtllib":
            mtllib = " ".join(words[1:])
        elif key not in ("#", "vn", "vt", "o", "s"):
            problem(f"line {number}: unexpected statement {key!r}")
    if header.get("Vertices:") != vertices or header.get("Faces:") != faces:
        problem(f"the header says {header}, the file has {vertices} vertices, {faces} faces")
    materials = {}
    if mtllib:
        mtl = os.path.join(os.path.dirname(path), mtllib)
        if not os.path.isfile(mtl):
            problem(f"the material file {mtllib} is not beside the OBJ file")
        else:
            current = None
            for line in open(mtl, encoding="utf-8"):
                words = line.split()
                if words[:1] == ["newmtl"]:
                    current = " ".join(words[1:])
                elif words[:1] == ["Kd"] and current:
                    materials[current] = [float(w) for w in words[1:4]]
    expected = dict(leaf_paths(model, []))
    if set(groups) != set(expected):
        problem(f"groups {sorted(groups)}, the model's parts {sorted(expected)}")
    for name, item in expected.items():
        colour = item.get("color")
        for c in (item.get("colors") or {}).get("distinct", []):
            used = [materials.get(m) for m in groups.get(name, ())]
            if not any(k and same_display(k, c) for k in used):
                problem(f"{name}: no material in {c}, the group's are {used}")
        if not colour or item.get("colors") is not None or name not in groups:
            continue
        for m in groups[name]:
            if m not in materials:
                problem(f"{name}: the material {m} is not in the material file")
            elif not same_display(materials[m], colour):
                problem(f"{name}: Kd {materials[m]}, the model's colour {colour}")
    return faces


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    model = json.load(open(sys.argv[1], encoding="utf-8"))
    path = sys.argv[2]
    triangles = check_obj(path, model) if path.lower().endswith(".obj") else \
        check_gltf(path, model)
    if triangles == 0:
        problem("no triangle")
    for p in problems[:20]:
        print(f"{path}: {p}")
    if problems:
        sys.exit(1)
    print(f"triangles {triangles}")


if __name__ == "__main__":
    main()
