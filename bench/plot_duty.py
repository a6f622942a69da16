#!/usr/bin/env python3
"""plot_duty.py CSV PNG: draws bench_duty's table, one line per engine, the
duty cycle on x and the load as a percentage of the engine's duty-100 figure
on y, with the ideal diagonal dashed."""
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: plot_duty.py CSV PNG")
    lines = {}
    with open(argv[1], newline="") as f:
        for row in csv.DictReader(f):
            lines.setdefault(row["engine"], []).append((int(row["duty"]), float(row["load_percent"])))
    fig, ax = plt.subplots(figsize=(7, 5))
    ax.plot([0, 100], [0, 100], "k--", linewidth=1, label="ideal")
    for engine, points in lines.items():
        points.sort()
        ax.plot([d for d, _ in points], [p for _, p in points], marker="o", label=engine)
    ax.set_xlabel("duty cycle")
    ax.set_ylabel("load, % of the duty-100 load")
    ax.set_xlim(0, 100)
    ax.set_ylim(0, max([110] + [p for pts in lines.values() for _, p in pts]) + 5)
    ax.set_xticks([1, 25, 50, 75, 100])
    ax.grid(True, alpha=0.3)
    ax.legend()
    ax.set_title("Duty-cycle response, measured from outside each engine")
    fig.tight_layout()
    fig.savefig(argv[2], dpi=100)


if __name__ == "__main__":
    main(sys.argv)
