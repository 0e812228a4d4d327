#!/usr/bin/env bash
# Back-up and restore of a 100,000-entry pair (358 MB) against their floor: copying the same
# files with cp and syncing them. Each run is a whole process, timed from start to exit, and the
# two take turns (A B A B) so that both see the machine alike. A back-up copies the pair once; a
# restore twice (the current pair into UnDo, the back-up pair into its place), and its floor
# copies the same two pairs. Prints min / median / max of the paired ratios and the peak memory
# of our runs. Exits non-zero when a run fails or the memory is over its limit: the copies are
# streamed, so memory stays flat whatever the size of the files; times are printed, never judged.
#   bench/backup.sh BUILD_DIR [PAIRS]
set -euo pipefail

build=$(cd "${1:?usage: backup.sh BUILD_DIR [PAIRS]}" && pwd)
bench=$build/bench/quillor_backup_bench
[[ -x $bench ]] || { echo "backup.sh: $bench is not built" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

exec python3 - "$bench" "$work" "${2:-5}" <<'PY'
import os, statistics, subprocess, sys

bench, work, pairs = sys.argv[1], sys.argv[2], int(sys.argv[3])
measure = os.path.join(os.path.dirname(bench), "quillor_measure")
RECORDS = 100_000
MEMORY_LIMIT_MB = 40
data, backup = f"{work}/data", f"{work}/back-up"
pair = ("QuiFil.ini", "QuiURL.dab")

def timed(argv):
    """Milliseconds from spawn to exit of one process, and its peak resident memory in MB,
    measured by a small launcher: a child of this Python process would start with its pages."""
    figures = f"{work}/figures"
    launcher = [measure, figures] + argv
    pid = os.posix_spawn(measure, launcher, os.environ)
    _, status = os.waitpid(pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"backup.sh: {' '.join(argv)} failed")
    ms, kib = open(figures).read().split()
    return float(ms), int(kib) / 1024

def floor(copies):
    """cp each source directory's pair into its target directory, then sync the copies."""
    script = " && ".join(f'cp "{s}/{n}" "{t}/{n}"' for s, t in copies for n in pair)
    synced = " ".join(f'"{t}/{n}"' for _, t in copies for n in pair)
    targets = " ".join(f'"{t}"' for _, t in copies)
    return ["/bin/sh", "-c", f"{script} && sync {synced} {targets}"]

for d in ("floor-back-up", "floor-undo", "floor-data"):
    os.mkdir(f"{work}/{d}")
if subprocess.call([bench, "make", work, str(RECORDS)]) != 0:
    sys.exit("backup.sh: cannot make the files")
size = sum(os.path.getsize(f"{data}/{n}") for n in pair) / 1e6

def paired(name, mode, floor_argv):
    ours = [bench, mode, work]
    timed(ours), timed(floor_argv)  # warm the page cache: not counted
    ratios, peaks, times = [], [], []
    for _ in range(pairs):
        (a, peak), (b, _) = timed(ours), timed(floor_argv)
        ratios.append(a / b)
        peaks.append(peak)
        times.append((a, b))
    print(f"{name}: ratio min {min(ratios):.2f} / median {statistics.median(ratios):.2f} / "
          f"max {max(ratios):.2f} (target <= 1.5)  [median {statistics.median(t[0] for t in times):.0f} ms "
          f"vs floor {statistics.median(t[1] for t in times):.0f} ms, {pairs} pairs]")
    return max(peaks)

print(f"pair of {RECORDS:,} entries: {size:.0f} MB")
peak = max(
    paired("back-up / cp + sync", "backup", floor([(data, f"{work}/floor-back-up")])),
    paired("restore / cp + sync", "restore",
           floor([(data, f"{work}/floor-undo"), (backup, f"{work}/floor-data")])))
print(f"back-up and restore of {size:.0f} MB, peak memory: {peak:.1f} MB (limit {MEMORY_LIMIT_MB} MB)")
sys.exit(0 if peak < MEMORY_LIMIT_MB else 1)
PY
