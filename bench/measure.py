"""Times the installer, its NSIS peer, the floor program and the physical job, interleaved.

Usage: measure.py ROUNDS WINE_RUN INSTALLER PEER FLOOR PHYSICAL PHYSICAL_DIR PAYLOAD_DIR [IMAGE...]
Prints medians, per-round ratios and image overheads (of the installer, the peer and any
further IMAGE) as Markdown tables.
"""

import os
import statistics
import subprocess
import sys
import time


def timed(command):
    start = time.perf_counter()
    # Output goes to the null device: a GUI program with piped output holds its caller.
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit(f"{command[-1]} failed with {result.returncode}")
    return elapsed * 1000


def main():
    rounds = int(sys.argv[1])
    wine_run, installer, peer, floor, physical, physical_dir, payload_dir = sys.argv[2:9]
    payloads = sorted(os.path.join(payload_dir, name) for name in os.listdir(payload_dir))
    commands = {
        "installer": [wine_run, installer],
        "peer (NSIS)": [wine_run, peer],
        "floor": [wine_run, floor],
        "physical": [physical, physical_dir] + payloads,
    }
    times = {name: [] for name in commands}
    for round_number in range(rounds + 1):
        for name, command in commands.items():
            elapsed = timed(command)
            if round_number > 0:  # round 0 warms caches and the wineserver up
                times[name].append(elapsed)

    to_peer = [i / p for i, p in zip(times["installer"], times["peer (NSIS)"])]
    to_work = [i / (f + w) for i, f, w in
               zip(times["installer"], times["floor"], times["physical"])]
    payload_bytes = sum(os.path.getsize(path) for path in payloads)

    print(f"{rounds} interleaved rounds after one warm-up round; wall time in ms.\n")
    print("| program | median | min | max |")
    print("|---|---:|---:|---:|")
    for name, values in times.items():
        print(f"| {name} | {statistics.median(values):.1f} | {min(values):.1f} | "
              f"{max(values):.1f} |")
    print("\n| ratio (per round) | median | min | max |")
    print("|---|---:|---:|---:|")
    for name, values in [("installer / peer", to_peer),
                         ("installer / (floor + physical)", to_work)]:
        print(f"| {name} | {statistics.median(values):.2f} | {min(values):.2f} | "
              f"{max(values):.2f} |")
    print("\n| image | size | payload bytes | overhead |")
    print("|---|---:|---:|---:|")
    for path in [installer, peer] + sys.argv[9:]:
        size = os.path.getsize(path)
        print(f"| {os.path.relpath(path)} | {size} | {payload_bytes} | "
              f"{size - payload_bytes} ({(size - payload_bytes) / 1024:.1f} KiB) |")


if __name__ == "__main__":
    main()
