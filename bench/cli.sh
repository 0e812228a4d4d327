#!/usr/bin/env bash
# quillor-cli list against the streaming floor (quillor_streaming_floor): whole processes, the
# two taking turns (A B A B), at 10,000 and 100,000 entries, in each output format. Prints min /
# median / max of the paired ratios and the peak memory of each side. Exits non-zero when a run
# fails; times are printed, never judged.
#   bench/cli.sh BUILD_DIR [PAIRS]
set -euo pipefail

build=$(cd "${1:?usage: cli.sh BUILD_DIR [PAIRS]}" && pwd)
for program in "$build/quillor-cli" "$build/bench/quillor_streaming_floor" \
    "$build/bench/quillor_rewrite_bench" "$build/bench/quillor_measure"; do
    [[ -x $program ]] || { echo "cli.sh: $program is not built" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

exec python3 - "$build" "$work" "${2:-7}" <<'PY'
import os, statistics, subprocess, sys

build, work, pairs = sys.argv[1], sys.argv[2], int(sys.argv[3])
cli = f"{build}/quillor-cli"
floor = f"{build}/bench/quillor_streaming_floor"
measure = f"{build}/bench/quillor_measure"
# The master password of the files quillor_rewrite_bench makes.
with open(f"{work}/password", "w") as f:
    f.write("Pomelo tree 42\n")

def run(argv):
    """One process, its standard output thrown away: wall milliseconds and peak memory in MiB."""
    figures = f"{work}/figures"
    launcher = [measure, figures] + argv
    pid = os.posix_spawn(measure, launcher, os.environ, file_actions=[
        (os.POSIX_SPAWN_OPEN, 0, f"{work}/password", os.O_RDONLY, 0),
        (os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)])
    _, status = os.waitpid(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"cli.sh: {' '.join(argv)} failed")
    ms, kib = open(figures).read().split()
    return float(ms), int(kib) / 1024

failed = False
for records in (10_000, 100_000):
    directory = f"{work}/{records}"
    os.mkdir(directory)
    if subprocess.call([f"{build}/bench/quillor_rewrite_bench", "make", directory,
                        str(records)]) != 0:
        sys.exit("cli.sh: cannot make the files")
    link = f"{directory}/QuiURL.dab"
    for form in ("text", "tsv", "json"):
        a_argv = [cli, "--data-dir", directory, "list", "--format", form]
        b_argv = [floor, link]
        run(a_argv), run(b_argv)  # warm the page cache: not counted
        ratios, times, peaks = [], [], []
        for _ in range(pairs):
            (a, a_peak), (b, b_peak) = run(a_argv), run(b_argv)
            ratios.append(a / b)
            times.append((a, b))
            peaks.append((a_peak, b_peak))
        a_peak = statistics.median(p[0] for p in peaks)
        b_peak = statistics.median(p[1] for p in peaks)
        print(f"quillor-cli list {form} at {records:,} / streaming floor: ratio min "
              f"{min(ratios):.2f} / median {statistics.median(ratios):.2f} / max {max(ratios):.2f}"
              f" (target <= 1.5)  [median {statistics.median(t[0] for t in times):.0f} ms vs "
              f"{statistics.median(t[1] for t in times):.0f} ms; peak {a_peak:.1f} MiB vs "
              f"{b_peak:.1f} MiB, target <= 2x; {pairs} pairs]")
PY
