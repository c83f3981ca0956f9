#!/usr/bin/env python3
"""Writes the scenes the stored populations were made from.

The named scenes cover the shapes the optimiser is timed on and mirrors that
several threads score; the numbered
ones are drawn from a fixed seed and cover the awkward cases: horizontal,
slanted and vertical beams, vertical and overlapping segments, 0 to 12
vertices and coordinates near the ends of the 16-bit range. Running it again
writes the same files.
"""
import json
import math
import random
import sys
from pathlib import Path

LOW, HIGH = -32768, 32767


def clamp(v):
    return max(LOW, min(HIGH, int(round(v))))


def point(x, y):
    return [clamp(x), clamp(y)]


def named_scenes():
    # An arc of 8 vertices around the target, opening toward the source.
    concave = [point(250 + 220 * math.cos(a), 200 + 220 * math.sin(a))
               for a in (math.radians(-70 + 20 * i) for i in range(8))]
    slanted = [[450, 40], [560, 360]]
    diagonal = [point(330 + 30 * i + (7 if i % 2 else -5), 40 + 35 * i) for i in range(10)]
    # Mirrors large enough to be scored by several threads: the default
    # mirror's line made of 100 vertices, and 48 vertices that run straight,
    # then vertically, then fold back on themselves.
    line = [[494 + 3 * ((i * 7) % 3 - 1), 52 + (304 - 52) * i // 99] for i in range(100)]
    folded = [[470 + 4 * i, 40 + 9 * i] for i in range(16)]
    folded += [[folded[-1][0], folded[-1][1] + 12 * (i + 1)] for i in range(16)]
    folded += [[folded[-1][0] - 5 * (i + 1), folded[-1][1] - 7 * (i + 1)] for i in range(16)]
    return {
        "concave8": {"reflector": concave},
        "slanted2": {"reflector": slanted},
        "diagonal10": {"reflector": diagonal},
        "line100": {"reflector": line},
        "folded48": {"reflector": folded},
    }


def random_scene(rng, index):
    kind = index % 8
    count = index % 13  # 0 to 12 vertices
    big = kind == 5
    span = 32000 if big else 600

    def coord(centre):
        return centre + rng.randint(-span, span)

    cx, cy = (rng.choice([-32000, 32000]), rng.choice([-32000, 32000])) if big else (400, 200)
    source = point(cx - rng.randint(50, 300), cy + rng.randint(-100, 100))
    if kind == 0:    # horizontal beam
        aim = [source[0] + rng.randint(100, 400), source[1]]
    elif kind == 2:  # vertical beam
        aim = [source[0], source[1] + rng.choice([-1, 1]) * rng.randint(100, 400)]
    else:            # slanted beam
        aim = point(source[0] + rng.randint(-400, 400), source[1] + rng.randint(-400, 400))
        if aim == source:
            aim[0] += 1
    target = point(cx + rng.randint(-150, 150), cy + rng.randint(-150, 150))

    vertices = []
    for i in range(count):
        if kind == 3 and i > 0 and i % 2 == 1:    # vertical segments
            vertices.append([vertices[-1][0], clamp(vertices[-1][1] + rng.randint(-200, 200))])
        elif kind == 4 and i >= 2 and i % 2 == 0:  # fold back along the last segment
            a, b = vertices[-2], vertices[-1]
            vertices.append(point(b[0] + (a[0] - b[0]) // 2, b[1] + (a[1] - b[1]) // 2))
        elif kind == 7:                              # a ring around the target
            angle = 2 * math.pi * i / max(count, 1) + rng.random() * 0.3
            r = rng.randint(80, 250)
            vertices.append(point(target[0] + r * math.cos(angle), target[1] + r * math.sin(angle)))
        elif big and rng.random() < 0.3:
            vertices.append([rng.choice([LOW, HIGH]), clamp(coord(cy))])
        else:
            vertices.append(point(coord(cx), coord(cy)))
    return {"reflector": vertices, "source": source, "aim": aim, "target": target}


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).parent / "scenes")
    out.mkdir(parents=True, exist_ok=True)
    for name, scene in named_scenes().items():
        (out / f"{name}.json").write_text(json.dumps(scene) + "\n")
    rng = random.Random(20240610)
    for i in range(48):
        (out / f"random{i:02d}.json").write_text(json.dumps(random_scene(rng, i)) + "\n")


if __name__ == "__main__":
    main()
