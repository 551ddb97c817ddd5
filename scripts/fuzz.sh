#!/usr/bin/env bash
# Fuzzes the parsers with libFuzzer: builds the fuzz preset (clang-14, AddressSanitizer,
# UndefinedBehaviorSanitizer), then runs each target for SECONDS (default 60) or N inputs,
# whichever ends first, one target at a time at the lowest priority, and prints executions,
# coverage and findings per target.
#
#   bash scripts/fuzz.sh [SECONDS] [-runs=N] [TARGET...]      (all targets when none is named)
#
# Each target starts from a scratch corpus outside the repository: its regression inputs
# (fuzz/seeds/TARGET), the seeds the build makes, and the shared folder's samples and traces
# when it is there. Inputs that crash, leak, hang or run out of memory are kept in the run's
# folder (printed at the end); the folder is removed when nothing was found. FUZZ_JOBS is not
# offered on purpose: the machine's other core belongs to the other developers.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
runs=-1
targets=()
for arg in "$@"; do
  case "$arg" in
    -runs=*) runs="${arg#-runs=}" ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    ''|*[!0-9]*) targets+=("$arg") ;;
    *) seconds="$arg" ;;
  esac
done

if ! command -v clang++-14 >/dev/null; then
  echo "fuzz: clang-14 is missing; run scripts/setup.sh" >&2
  exit 2
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

manifests=build/fuzz/fuzz/targets
if [ "${#targets[@]}" -eq 0 ]; then
  for m in "$manifests"/*; do targets+=("$(basename "$m")"); done
fi
for t in "${targets[@]}"; do
  if [ ! -f "$manifests/$t" ]; then
    echo "fuzz: no target $t; there are: $(ls "$manifests" | tr '\n' ' ')" >&2
    exit 2
  fi
done

base="${TMPDIR:-}"
if [ -z "$base" ]; then
  if [ -d /dev/shm ]; then base=/dev/shm; else base=/tmp; fi
fi
run_dir="$(mktemp -d "$base/cc-fuzz-run.XXXXXX")"
# Memory past 2 GB in one piece is refused, as a system that commits memory strictly does: a
# refused malloc returns null, as the C library's does (Qt's settings reader, for one, then
# reads on), while a refused operator new still ends the run.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1:allocator_may_return_null=1:max_allocation_size_mb=2048"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer-14 || command -v llvm-symbolizer || true)"

# Copies the files a seed entry names (a folder, searched through, or a file pattern).
copy_seeds() {
  local entry="$1" corpus="$2" n=0
  shopt -s nullglob
  local paths=($entry)
  shopt -u nullglob
  for p in "${paths[@]}"; do
    if [ -d "$p" ]; then
      while IFS= read -r -d '' f; do
        cp "$f" "$corpus/seed-$(sha1sum "$f" | cut -c1-16)"
        n=$((n + 1))
      done < <(find "$p" -type f -print0)
    elif [ -f "$p" ]; then
      cp "$p" "$corpus/seed-$(sha1sum "$p" | cut -c1-16)"
      n=$((n + 1))
    fi
  done
  echo "$n"
}

rows=()
total_findings=0
start_all=$(date +%s)
for t in "${targets[@]}"; do
  program="$(sed -n 's/^program //p' "$manifests/$t")"
  max_len="$(sed -n 's/^max_len //p' "$manifests/$t")"
  dir="$run_dir/$t"
  mkdir -p "$dir/corpus" "$dir/findings" "$dir/tmp"
  seeds=0
  while IFS= read -r entry; do
    seeds=$((seeds + $(copy_seeds "$entry" "$dir/corpus")))
  done < <(sed -n 's/^seeds //p' "$manifests/$t")
  echo "fuzz: $t: $seeds seed files, up to ${seconds}s$([ "$runs" -ge 0 ] && echo " or $runs runs")" >&2
  start=$(date +%s)
  # Status lines only: the program's own error output is closed (-close_fd_mask=3); crash
  # reports still reach the log.
  TMPDIR="$dir/tmp" nice -n 19 "$program" "$dir/corpus" \
    -max_total_time="$seconds" -runs="$runs" -max_len="$max_len" -timeout=60 -report_slow_units=30 \
    -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$dir/findings/" >"$dir/log" 2>&1 || true
  took=$(( $(date +%s) - start ))
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)"
  last="$(grep -E '^#[0-9]+.*cov: ' "$dir/log" | tail -1 || true)"
  cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")"
  ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")"
  corp="$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")"
  # Slow inputs are noted apart: on a busy machine at the lowest priority they mean little;
  # a real hang ends in a time-out, which counts.
  findings=$(find "$dir/findings" -type f ! -name 'slow-unit-*' | wc -l)
  slow=$(find "$dir/findings" -type f -name 'slow-unit-*' | wc -l)
  total_findings=$((total_findings + findings))
  rows+=("$(printf '%-14s %12s %8s %7s %7s %7s %9s %5s' "$t" "${execs:-?}" "${took}s" "${cov:-?}" \
    "${ft:-?}" "${corp:-?}" "$findings" "$slow")")
  if [ "$findings" -eq 0 ]; then
    rm -rf "$dir/corpus" "$dir/tmp"
  else
    echo "fuzz: $t: $findings finding(s) in $dir/findings (log: $dir/log)" >&2
  fi
done

printf '\n%-14s %12s %8s %7s %7s %7s %9s %5s\n' target executions time cov ft corpus findings slow
printf '%s\n' "${rows[@]}"
echo "total time $(( $(date +%s) - start_all ))s"
if [ "$total_findings" -eq 0 ]; then
  rm -rf "$run_dir"
  exit 0
fi
echo "findings kept in $run_dir"
exit 1
