#!/usr/bin/env bash
# Rewrites of the link file against their floors, each run a process of its own, the two taking
# turns (A B A B) so that both see the machine alike: a move at 10,000 entries against writing
# the same bytes to a new file with a sync and a rename, and a password change at 100,000
# entries against loading the list plus that write. Prints min / median / max of the paired
# ratios and the peak memory of the password change. Exits non-zero when a run fails or the
# password change's memory is over its limit; times are printed, never judged.
#   bench/rewrite.sh BUILD_DIR [PAIRS]
set -euo pipefail

build=$(cd "${1:?usage: rewrite.sh BUILD_DIR [PAIRS]}" && pwd)
bench=$build/bench/quillor_rewrite_bench
[[ -x $bench ]] || { echo "rewrite.sh: $bench is not built" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

exec python3 - "$bench" "$work" "${2:-7}" <<'PY'
import os, statistics, subprocess, sys

bench, work, pairs = sys.argv[1], sys.argv[2], int(sys.argv[3])
measure = os.path.join(os.path.dirname(bench), "quillor_measure")
MEMORY_LIMIT_MB = 100

def run(mode, directory):
    """One process: the milliseconds it reports, and its peak resident memory in MB, measured by
    a small launcher: a child of this Python process would start with its pages."""
    figures = f"{work}/figures"
    pid = os.posix_spawn(measure, [measure, figures, bench, mode, directory], os.environ,
                         file_actions=[(os.POSIX_SPAWN_OPEN, 1, f"{work}/out", os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)])
    _, status = os.waitpid(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"rewrite.sh: {mode} failed")
    return float(open(f"{work}/out").read()), int(open(figures).read().split()[1]) / 1024


def paired(name, mode, floor, directory, target):
    ratios, peaks, times = [], [], []
    run(mode, directory), run(floor, directory)  # warm the page cache: not counted
    for _ in range(pairs):
        (a, peak), (b, _) = run(mode, directory), run(floor, directory)
        ratios.append(a / b)
        peaks.append(peak)
        times.append((a, b))
    print(f"{name}: ratio min {min(ratios):.2f} / median {statistics.median(ratios):.2f} / "
          f"max {max(ratios):.2f} (target <= {target})  [median {statistics.median(t[0] for t in times):.0f} ms "
          f"vs floor {statistics.median(t[1] for t in times):.0f} ms, {pairs} pairs]")
    return max(peaks)

for records, name in ((10_000, "move-10k"), (100_000, "passwd-100k")):
    directory = f"{work}/{name}"
    os.mkdir(directory)
    if subprocess.call([bench, "make", directory, str(records)]) != 0:
        sys.exit("rewrite.sh: cannot make the files")

paired("move at 10,000 entries / write floor", "move", "write-floor", f"{work}/move-10k", 1.5)
peak = paired("Change Password at 100,000 entries / load + write floor", "passwd", "passwd-floor",
              f"{work}/passwd-100k", 2)
print(f"Change Password at 100,000 entries, peak memory: {peak:.1f} MB (limit {MEMORY_LIMIT_MB} MB)")
sys.exit(0 if peak < MEMORY_LIMIT_MB else 1)
PY
