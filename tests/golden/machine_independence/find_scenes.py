#!/usr/bin/env python3
"""Find scenes whose headless results depend on glibc's FMA / non-FMA atan and tan.

Usage:
    python3 find_scenes.py OLD_REFLECTOR_BINARY [--count 5] [--seeds 1,2,3]
        [--generations 2000] [--max-scenes 400] [--rng 12345] [--jobs 2]
        [--keep json-first|json|any] [--out DIR] [--found FOUND.txt]
        [--dump-all DIR]

For each random scene it runs
    BINARY --headless --scene S.json --seed N --generations G --json J --history H
twice per seed: once with the environment as is (on an FMA-capable x86-64 machine
glibc 2.36 picks the FMA variants of atan/tan) and once with
    GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA,-FMA4,-AVX
(the non-FMA variants), and compares the --json and --history bytes.

A scene is kept when the first seed gives different --json bytes (--keep
json-first, the default), when any seed does (--keep json), or when any seed
gives different --json or --history bytes (--keep any). Kept scenes are
written to DIR (default: scenes/ next to this script) as variesNN.json, and a
summary to FOUND (default: FOUND.txt next to this script). The script stops
after --count kept scenes or --max-scenes generated scenes.

Scenes: source and aim inside 0..800 x 0..600, a 2-12 vertex mirror laid across
the beam line just beyond the aim point (with random bow and jitter, all
vertices within -30..830 x -30..630), a random target. Scenes whose first generation scores 150000 (no ray hits) are skipped.
"""
import argparse
import json
import math
import os
import random
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

NOFMA = "glibc.cpu.hwcaps=-AVX2,-FMA,-FMA4,-AVX"


def make_scene(rng):
    """A random scene whose mirror stays within -30..830 x -30..630."""
    while True:
        scene = try_scene(rng)
        if all(-30 <= x <= 830 and -30 <= y <= 630 for x, y in scene["reflector"]):
            return scene


def try_scene(rng):
    while True:
        sx, sy = rng.uniform(50, 750), rng.uniform(50, 550)
        ang = rng.uniform(0, 2 * math.pi)
        dist = rng.uniform(200, 550)
        ax, ay = sx + dist * math.cos(ang), sy + dist * math.sin(ang)
        if 20 <= ax <= 780 and 20 <= ay <= 580:
            break
    ux, uy = math.cos(ang), math.sin(ang)          # beam direction
    px, py = -uy, ux                               # across the beam
    n = rng.randint(2, 12)
    length = rng.uniform(120, 550)
    bow = rng.uniform(-0.6, 0.6) * length          # concave (>0) or convex
    tilt = rng.uniform(-0.5, 0.5)
    shift = rng.uniform(-40, 80)
    off = rng.uniform(-0.25, 0.25) * length
    verts = []
    for i in range(n):
        t = i / (n - 1) - 0.5                      # -0.5..0.5 along the mirror
        along = shift + tilt * t * length + bow * (t * t - 0.25) * -1 * 0.9
        along += rng.gauss(0, 4)
        across = off + t * length + rng.gauss(0, 3)
        verts.append([round(ax + along * ux + across * px),
                      round(ay + along * uy + across * py)])
    if rng.random() < 0.6:   # target somewhere between source and mirror
        f = rng.uniform(0.2, 0.8)
        tx = sx + f * (ax - sx) + rng.gauss(0, 60)
        ty = sy + f * (ay - sy) + rng.gauss(0, 60)
    else:
        tx, ty = rng.uniform(0, 800), rng.uniform(0, 600)
    return {"reflector": verts, "source": [round(sx), round(sy)],
            "aim": [round(ax), round(ay)], "target": [round(tx), round(ty)]}


def scene_text(scene):
    verts = ", ".join("[%d, %d]" % tuple(v) for v in scene["reflector"])
    return ('{"reflector": [%s],\n "source": [%d, %d], "aim": [%d, %d], '
            '"target": [%d, %d]}\n' % (verts, *scene["source"], *scene["aim"],
                                        *scene["target"]))


def run(binary, scene_path, seed, gens, workdir, tag, nofma):
    env = dict(os.environ)
    env.pop("GLIBC_TUNABLES", None)
    if nofma:
        env["GLIBC_TUNABLES"] = NOFMA
    j = os.path.join(workdir, "%s-%d-%s.json" % (tag, seed, "nofma" if nofma else "fma"))
    h = j[:-5] + ".csv"
    subprocess.run([binary, "--headless", "--scene", scene_path, "--seed", str(seed),
                    "--generations", str(gens), "--json", j, "--history", h],
                   env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(j, "rb") as f:
        jb = f.read()
    with open(h, "rb") as f:
        hb = f.read()
    os.unlink(j)
    os.unlink(h)
    return jb, hb


def first_diff_row(a, b):
    """Generation (data row number, 1-based after the header) of the first differing row."""
    la, lb = a.split(b"\n"), b.split(b"\n")
    for i, (x, y) in enumerate(zip(la, lb)):
        if x != y:
            return i
    return min(len(la), len(lb)) if len(la) != len(lb) else None


def best_ever(jb):
    try:
        return json.loads(jb)["bestEver"]["score"]
    except Exception:
        return None


def first_row_score(hb):
    lines = hb.split(b"\n")
    return float(lines[1].split(b",")[1]) if len(lines) > 1 and lines[1] else None


def check(binary, scene, seeds, gens, workdir, tag):
    path = os.path.join(workdir, tag + ".json")
    with open(path, "w") as f:
        f.write(scene_text(scene))
    out = []
    for seed in seeds:
        jf, hf = run(binary, path, seed, gens, workdir, tag, False)
        if seed == seeds[0] and first_row_score(hf) is not None and first_row_score(hf) >= 150000:
            os.unlink(path)
            return None                       # beam misses the mirror
        jn, hn = run(binary, path, seed, gens, workdir, tag, True)
        out.append({"seed": seed, "json": jf != jn, "history": hf != hn,
                    "row": first_diff_row(hf, hn) if hf != hn else None,
                    "best_fma": best_ever(jf), "best_nofma": best_ever(jn)})
    os.unlink(path)
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("binary")
    ap.add_argument("--count", type=int, default=5)
    ap.add_argument("--seeds", default="1")
    ap.add_argument("--generations", type=int, default=2000)
    ap.add_argument("--max-scenes", type=int, default=400)
    ap.add_argument("--rng", type=int, default=12345)
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    ap.add_argument("--keep", choices=["json-first", "json", "any"], default="json-first")
    ap.add_argument("--out", default=os.path.join(here, "scenes"))
    ap.add_argument("--found", default=os.path.join(here, "FOUND.txt"))
    ap.add_argument("--dump-all", help="also write every tested scene here (scanNNN.json)")
    a = ap.parse_args()
    seeds = [int(s) for s in a.seeds.split(",")]
    rng = random.Random(a.rng)
    scenes = [make_scene(rng) for _ in range(a.max_scenes)]
    os.makedirs(a.out, exist_ok=True)
    if a.dump_all:
        os.makedirs(a.dump_all, exist_ok=True)
    kept, stats = [], {"runs": 0, "json": 0, "history": 0, "scenes": 0}
    with tempfile.TemporaryDirectory() as work, ThreadPoolExecutor(a.jobs) as pool:
        batch = max(a.jobs, 1) * 2
        for start in range(0, len(scenes), batch):
            idx = range(start, min(start + batch, len(scenes)))
            results = list(pool.map(lambda i: check(a.binary, scenes[i], seeds,
                                                    a.generations, work, "s%04d" % i), idx))
            for i, res in zip(idx, results):
                if res is None:
                    continue
                stats["scenes"] += 1
                if a.dump_all:
                    with open(os.path.join(a.dump_all, "scan%03d.json" % i), "w") as f:
                        f.write(scene_text(scenes[i]))
                for r in res:
                    stats["runs"] += 1
                    stats["json"] += r["json"]
                    stats["history"] += r["history"]
                if a.keep == "json-first":
                    want = res[0]["json"]
                elif a.keep == "json":
                    want = any(r["json"] for r in res)
                else:
                    want = any(r["json"] or r["history"] for r in res)
                if want and len(kept) < a.count:
                    name = "varies%02d.json" % (len(kept) + 1)
                    with open(os.path.join(a.out, name), "w") as f:
                        f.write(scene_text(scenes[i]))
                    kept.append((name, i, res))
                    print("kept", name, res, file=sys.stderr)
            if len(kept) >= a.count:
                break
    with open(a.found, "w") as f:
        f.write("# Scenes whose headless results differ between glibc's FMA and non-FMA\n"
                "# atan/tan (second run: GLIBC_TUNABLES=%s).\n" % NOFMA)
        f.write("# Made by: python3 find_scenes.py BINARY --seeds %s --generations %d "
                "--rng %d --keep %s --count %d\n" % (a.seeds, a.generations, a.rng, a.keep, a.count))
        f.write("# Scanned %d scenes (beam hitting the mirror), %d runs: --json differed in %d "
                "(%.1f%%), --history in %d (%.1f%%).\n" % (
                    stats["scenes"], stats["runs"], stats["json"],
                    100.0 * stats["json"] / max(stats["runs"], 1), stats["history"],
                    100.0 * stats["history"] / max(stats["runs"], 1)))
        f.write("# first_diff_row = first differing --history data row (= generation; "
                "header is row 0); best_ever fma / nofma from --json.\n")
        f.write("# scene            seed generations json history first_diff_row best_ever_fma best_ever_nofma\n")
        for name, i, res in kept:
            for r in res:
                f.write("%-18s %4d %11d %-4s %-7s %14s %r %r\n" % (
                    "scenes/" + name, r["seed"], a.generations,
                    "yes" if r["json"] else "no", "yes" if r["history"] else "no",
                    r["row"] if r["row"] is not None else "-", r["best_fma"], r["best_nofma"]))
    print("scanned %d scenes, %d runs, json differ %d, history differ %d, kept %d" % (
        stats["scenes"], stats["runs"], stats["json"], stats["history"], len(kept)))


if __name__ == "__main__":
    main()
