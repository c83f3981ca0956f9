#!/usr/bin/env python3
"""Draws the cost of a generation against the mirror's size, log-log, as SVG.

    build/default/bench/optimizer_bench --sizes | bench/plot_cost.py > cost.svg

Reads the "csv,N,reference,fast,one,two" lines optimizer_bench --sizes prints
(generations per second) and plots milliseconds per generation for each.
Standard library only.
"""
import math
import sys

SERIES = [
    ("reference evaluator", 2, "#888888", "6,4"),
    ("fast loop, this thread", 3, "#1f77b4", ""),
    ("worker, --threads 1", 4, "#ff7f0e", ""),
    ("worker, --threads 2", 5, "#2ca02c", "3,3"),
]
WIDTH, HEIGHT = 640, 420
LEFT, RIGHT, TOP, BOTTOM = 70, 20, 40, 60


def main():
    rows = []
    for line in sys.stdin:
        if line.startswith("csv,"):
            rows.append([float(v) for v in line.strip().split(",")[1:]])
    if not rows:
        sys.exit("plot_cost: no 'csv,' lines on standard input")
    ms = [[r[0]] + [1000.0 / v for v in r[1:]] for r in rows]
    xs = [r[0] for r in ms]
    ys = [v for r in ms for v in r[1:]]
    x0, x1 = math.floor(math.log10(min(xs))), math.ceil(math.log10(max(xs)))
    y0, y1 = math.floor(math.log10(min(ys))), math.ceil(math.log10(max(ys)))

    def px(x):
        return LEFT + (math.log10(x) - x0) / (x1 - x0) * (WIDTH - LEFT - RIGHT)

    def py(y):
        return HEIGHT - BOTTOM - (math.log10(y) - y0) / (y1 - y0) * (HEIGHT - TOP - BOTTOM)

    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{WIDTH}" height="{HEIGHT}" '
           f'font-family="sans-serif" font-size="12">',
           f'<rect width="{WIDTH}" height="{HEIGHT}" fill="white"/>',
           f'<text x="{WIDTH / 2}" y="20" text-anchor="middle" font-size="14">'
           'Milliseconds per generation against mirror vertices</text>']
    for e in range(x0, x1 + 1):
        x = px(10 ** e)
        out.append(f'<line x1="{x:.1f}" y1="{TOP}" x2="{x:.1f}" y2="{HEIGHT - BOTTOM}" stroke="#ddd"/>')
        out.append(f'<text x="{x:.1f}" y="{HEIGHT - BOTTOM + 16}" text-anchor="middle">{10 ** e:g}</text>')
    for e in range(y0, y1 + 1):
        y = py(10 ** e)
        out.append(f'<line x1="{LEFT}" y1="{y:.1f}" x2="{WIDTH - RIGHT}" y2="{y:.1f}" stroke="#ddd"/>')
        out.append(f'<text x="{LEFT - 6}" y="{y + 4:.1f}" text-anchor="end">{10 ** e:g}</text>')
    out.append(f'<text x="{WIDTH / 2}" y="{HEIGHT - 20}" text-anchor="middle">vertices</text>')
    out.append(f'<text x="16" y="{HEIGHT / 2}" text-anchor="middle" '
               f'transform="rotate(-90 16 {HEIGHT / 2})">ms per generation</text>')
    for i, (name, column, colour, dash) in enumerate(SERIES):
        points = " ".join(f"{px(r[0]):.1f},{py(r[column - 1]):.1f}" for r in ms)
        dashes = f' stroke-dasharray="{dash}"' if dash else ""
        out.append(f'<polyline points="{points}" fill="none" stroke="{colour}" stroke-width="2"{dashes}/>')
        ly = TOP + 14 + 16 * i
        out.append(f'<line x1="{LEFT + 10}" y1="{ly - 4}" x2="{LEFT + 34}" y2="{ly - 4}" '
                   f'stroke="{colour}" stroke-width="2"{dashes}/>')
        out.append(f'<text x="{LEFT + 40}" y="{ly}">{name}</text>')
    out.append("</svg>")
    print("\n".join(out))


if __name__ == "__main__":
    main()
