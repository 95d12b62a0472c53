"""Times the installer against its peers on three kinds of run, interleaved round by round.

Each program's run is timed alone; what sets up the folder before it (and, for the MSI peer,
removing or registering the product) happens outside the timing, as does checking that the
folder then holds the six payloads byte for byte. Prints Markdown tables: medians, per-round
ratios against the targets, the payload check's cost and the image overheads.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

SCENARIOS = {
    "fresh": "empty resource folder",
    "update": "six older files with other bytes",
    "repeat": "the same six files already in place",
}

# (scenario, peer or "floor + physical", highest median of per-round ratios)
TARGETS = [
    ("update", "peer (NSIS)", 0.45),
    ("update", "peer (MSI)", 0.20),
    ("repeat", "floor", 1.15),
    ("fresh", "floor + physical", 1.0),
    ("update", "floor + physical", 1.0),
]
# What the 32-bit release may add to its payloads: at most 92 KiB (94,208 bytes), below the
# 95,236 bytes NSIS adds to the same files. The NSIS peer's own overhead is printed beside it, with the ratio, so a
# run shows how far the release stands from what a vendor would otherwise ship.
OVERHEAD_TARGET_KIB = 92


def run(command, what):
    # Output goes to the null device: a GUI program with piped output holds its caller.
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if result.returncode != 0:
        sys.exit(f"{what} failed with exit status {result.returncode}: {' '.join(command)}")


def timed(command, what):
    start = time.perf_counter()
    run(command, what)
    return (time.perf_counter() - start) * 1000


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Bench:
    def __init__(self, args):
        self.args = args
        self.folder = args.folder
        self.names = [name for _, name in args.payload_list]
        self.older = make_older(args.payloads, self.names, args.work)
        self.msi = [args.wine_run, "msiexec"]
        self.msi_package = windows_path(args.msi)
        self.msi_registered = False
        self.programs = {
            "installer": [args.wine_run, args.installer],
            "peer (NSIS)": [args.wine_run, args.nsis],
            # Every file is written, even over files already there.
            "peer (MSI)": self.msi + ["/i", self.msi_package, "/qn", "REINSTALLMODE=amus"],
            "floor": [args.wine_run, args.floor],
            "physical": [args.physical, self.folder]
                        + [os.path.join(args.payloads, name) for name in self.names],
        }

    # --- the MSI peer's registration, changed outside the timing ---------------------------

    def msi_unregister(self):
        if self.msi_registered:
            # Removes the six files and the folders the package created.
            run(self.msi + ["/x", self.msi_package, "/qn"], "removing the MSI peer")
            self.msi_registered = False
        os.makedirs(self.folder, exist_ok=True)

    def msi_register(self):
        if not self.msi_registered:
            self.msi_unregister()
            run(self.programs["peer (MSI)"], "installing the MSI peer")
            self.msi_registered = True

    def command(self, program, scenario):
        if program == "peer (MSI)" and scenario == "repeat":
            # What the package does by default when run again where it is installed.
            return self.msi + ["/i", self.msi_package, "/qn"]
        return self.programs[program]

    # --- the folder ------------------------------------------------------------------------

    def empty_folder(self):
        for entry in os.listdir(self.folder):
            path = os.path.join(self.folder, entry)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)

    def place(self, source_dir):
        for name in self.names:
            target = os.path.join(self.folder, name)
            source = os.path.join(source_dir, name)
            shutil.copyfile(source, target)
            stat = os.stat(source)
            os.utime(target, ns=(stat.st_atime_ns, stat.st_mtime_ns))

    def holds_payloads(self):
        for name in self.names:
            target = os.path.join(self.folder, name)
            if not os.path.isfile(target):
                return False
            with open(target, "rb") as got, open(os.path.join(self.args.payloads, name), "rb") as want:
                if got.read() != want.read():
                    return False
        return True

    def prepare(self, program, scenario):
        if program == "peer (MSI)":
            # Each of its fresh and update runs is a first installation of the product; its
            # repeat run is the package run again on a machine that has it.
            if scenario == "repeat":
                self.msi_register()
            else:
                self.msi_unregister()
        if scenario == "fresh":
            self.empty_folder()
        elif scenario == "update":
            self.place(self.older)
        elif not self.holds_payloads():
            self.place(self.args.payloads)
        # Nothing written before the run is left for the kernel to write back during it.
        os.sync()

    def check(self, program, scenario):
        if program != "floor" and not self.holds_payloads():
            sys.exit(f"after its {scenario} run, {program} left the folder without the six "
                     f"payloads")

    # --- the rounds ------------------------------------------------------------------------

    def measure(self, rounds):
        times = {(s, p): [] for s in SCENARIOS for p in self.programs}
        for round_number in range(rounds + 1):
            for scenario in SCENARIOS:
                for program in self.programs:
                    self.prepare(program, scenario)
                    elapsed = timed(self.command(program, scenario), f"{program} ({scenario})")
                    if program == "peer (MSI)":
                        self.msi_registered = True
                    self.check(program, scenario)
                    if round_number > 0:  # round 0 warms caches and the wineserver up
                        times[(scenario, program)].append(elapsed)
        self.msi_unregister()
        return times


def ratios(times, scenario, against):
    installer = times[(scenario, "installer")]
    if against == "floor + physical":
        other = [f + p for f, p in zip(times[(scenario, "floor")], times[(scenario, "physical")])]
    else:
        other = times[(scenario, against)]
    return [i / o for i, o in zip(installer, other)]


def spread(values, digits):
    return (f"{statistics.median(values):.{digits}f} | {min(values):.{digits}f} | "
            f"{max(values):.{digits}f}")


def print_times(times, programs, rounds):
    print(f"{rounds} interleaved rounds after one warm-up round; wall time in ms "
          f"(median | min | max).\n")
    print("| program | " + " | ".join(SCENARIOS) + " |")
    print("|---|" + "---:|" * len(SCENARIOS))
    for program in programs:
        cells = [f"{statistics.median(times[(s, program)]):.1f} "
                 f"({min(times[(s, program)]):.1f} to {max(times[(s, program)]):.1f})"
                 for s in SCENARIOS]
        print(f"| {program} | " + " | ".join(cells) + " |")


def print_ratios(times):
    targets = {(s, a): t for s, a, t in TARGETS}
    print("\n| run | installer / ... | median | min | max | target |")
    print("|---|---|---:|---:|---:|---|")
    for scenario in SCENARIOS:
        for against in ["peer (NSIS)", "peer (MSI)", "floor", "floor + physical"]:
            if against == "floor + physical" and scenario == "repeat":
                continue  # a repeat run has nothing that must be written
            values = ratios(times, scenario, against)
            target = targets.get((scenario, against))
            verdict = ""
            if target is not None:
                met = statistics.median(values) <= target
                verdict = f"<= {target:.2f}: {'met' if met else 'MISSED'}"
            print(f"| {scenario} | {against} | {spread(values, 2)} | {verdict} |")


def print_digest(digest_runs):
    if not digest_runs:
        return
    page_in, first, later = ([run[i] for run in digest_runs] for i in range(3))
    print(f"\nPayload check: the digest of the six embedded payloads, in-process, in "
          f"{len(digest_runs)} processes; ms.\n")
    print("| part | median | min | max | target |")
    print("|---|---:|---:|---:|---|")
    print(f"| bringing the payload pages in (the writes pay it in any case) | "
          f"{spread(page_in, 2)} | |")
    print(f"| digest, the one pass a run makes | {spread(first, 2)} | <= 3 ms: "
          f"{'met' if statistics.median(first) <= 3 else 'MISSED'} |")
    print(f"| digest, later passes (median within each process) | {spread(later, 2)} | |")


def bytes_and_kib(count):
    return f"{count} ({count / 1024:.1f} KiB)"


def print_images(paths, release, release_peer, payload_bytes):
    """The release's row also gives the overhead of release_peer, the NSIS peer built for the
    release's bitness from the same files, and the release's overhead as a share of it."""
    peer_overhead = os.path.getsize(release_peer) - payload_bytes
    print(f"\n| image | size | payload bytes | overhead | NSIS peer's overhead "
          f"({os.path.relpath(release_peer)}) | overhead / NSIS's | target |")
    print("|---|---:|---:|---:|---:|---:|---|")
    for path in dict.fromkeys(paths):  # the timed build may be the release itself
        size = os.path.getsize(path)
        overhead = size - payload_bytes
        against = " | |"
        if path == release:
            met = overhead <= OVERHEAD_TARGET_KIB * 1024
            # The peer stores its files uncompressed; one smaller than them has no overhead
            # to compare with.
            ratio = f"{overhead / peer_overhead:.2f}" if peer_overhead > 0 else "n/a"
            against = (f" {bytes_and_kib(peer_overhead)} | {ratio} | "
                       f"<= {OVERHEAD_TARGET_KIB} KiB: {'met' if met else 'MISSED'}")
        print(f"| {os.path.relpath(path)} | {size} | {payload_bytes} | "
              f"{bytes_and_kib(overhead)} |{against} |")


def digest_cost(args):
    runs = []
    for _ in range(args.digest_processes):
        result = subprocess.run([args.wine_run, args.digest, args.installer],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        fields = result.stdout.split()
        if result.returncode != 0 or len(fields) != 3:
            sys.exit(f"the payload check's timer failed ({result.returncode}): {result.stdout}")
        runs.append(tuple(float(field) for field in fields))
    return runs


def make_older(payloads, names, work):
    """Older copies of the payloads: the same names and sizes, other bytes, an older date."""
    older = os.path.join(work, "older")
    os.makedirs(older, exist_ok=True)
    flip = bytes(b ^ 0x5A for b in range(256))
    long_ago = time.mktime((2025, 1, 1, 0, 0, 0, 0, 0, -1))
    for name in names:
        with open(os.path.join(payloads, name), "rb") as source:
            data = source.read().translate(flip)
        with open(os.path.join(older, name), "wb") as copy:
            copy.write(data)
        os.utime(os.path.join(older, name), (long_ago, long_ago))
    return older


def payload_list(path):
    entries = []
    with open(path) as listing:
        for line in listing:
            fields = line.split()
            if len(fields) == 2 and fields[0].isdigit():
                entries.append((int(fields[0]), fields[1]))
    return entries


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--installer", required=True)
    parser.add_argument("--nsis", required=True)
    parser.add_argument("--msi", required=True)
    parser.add_argument("--floor", required=True)
    parser.add_argument("--physical", required=True)
    parser.add_argument("--payload-list", type=payload_list, required=True)
    parser.add_argument("--payloads", required=True, help="the payloads the installer embeds")
    parser.add_argument("--work", required=True, help="a folder for the older copies")
    parser.add_argument("--folder", required=True, help="the host's resource folder")
    parser.add_argument("--digest", help="the payload check's timer program")
    parser.add_argument("--digest-processes", type=int, default=5)
    parser.add_argument("--release", required=True, help="the release image (size target)")
    parser.add_argument("--release-nsis",
                        help="the NSIS peer built for the release's bitness, when the timed "
                             "peer is not (default: --nsis)")
    parser.add_argument("--image", action="append", default=[])
    args = parser.parse_args()

    bench = Bench(args)
    load_before = os.getloadavg()
    times = bench.measure(args.rounds)
    digest_runs = digest_cost(args) if args.digest else []
    load_after = os.getloadavg()

    print(f"Load average (1 min) before and after: {load_before[0]:.2f}, {load_after[0]:.2f}.\n")
    print("| run | state before each program's run |")
    print("|---|---|")
    for scenario, state in SCENARIOS.items():
        print(f"| {scenario} | {state} |")
    print()
    print_times(times, bench.programs, args.rounds)
    print_ratios(times)
    print_digest(digest_runs)
    payload_bytes = sum(os.path.getsize(os.path.join(args.payloads, name))
                        for name in bench.names)
    release_peer = args.release_nsis or args.nsis
    print_images([args.installer, args.release, args.nsis, release_peer, args.msi] + args.image,
                 args.release, release_peer, payload_bytes)


if __name__ == "__main__":
    main()
