#!/usr/bin/env bash
# The host program's two whole-message paths beside GMime doing the same work on the same file
# (parse it, write it back out):
#   vormime call big.eml SaveMime out.eml       beside  gmime_host big.eml out.eml
#   vormime call big.eml GetMime > out.eml      beside  gmime_host big.eml - > out.eml
# on the generated big message of the MIME benchmarks at each size. Runs of both sides
# alternate, REPS of each; prints the median CPU time (user + system: on a machine shared with
# other work it varies far less than the wall time, which is printed too), the peak resident
# size, the throughput ratio (GMime's CPU time / ours) and the peak against its limit. GMime's side
# is built here, and only when pkg-config finds gmime-3.0 (Debian libgmime-3.0-dev).
#
#   bash bench/host/host_bench.sh [BUILD_DIR]     (default build/release; REPS, SIZES)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build/release}
reps=${REPS:-5}
sizes=${SIZES:-"10 50 200"}
vormime=${VORMIME:-$build/cli/vormime}  # VORMIME: another build of the host program
work=$(mktemp -d "${TMPDIR:-/tmp}/hostbench-XXXXXX")
trap 'rm -rf "$work"' EXIT
# The module of the same build, registered in a platform root of its own, not whichever one
# the machine has registered.
export VORMIME_MODULE=${VORMIME_MODULE:-$(dirname "$vormime")/../component/libvorlundmime.so}
export VORLUND_ROOT=$work/root
mkdir -p "$VORLUND_ROOT"
"$vormime" call -new NumParts >/dev/null 2>&1

gmime=""
if pkg-config --exists gmime-3.0 2>/dev/null; then
  # shellcheck disable=SC2046
  cc -O2 -o "$work/gmime_host" "$(dirname "$0")/gmime_host.c" $(pkg-config --cflags --libs gmime-3.0)
  gmime=$work/gmime_host
else
  echo "gmime-3.0 not found: our side only"
fi

# One run: appends "cpu_seconds peak_kB wall_seconds" to the file named first; the run's
# standard output goes to the file named second.
run() {
  local into=$1 stdout=$2
  shift 2
  python3 "$here/cputime.py" "$stdout" "$@" >>"$into" || exit 1
}
median() { sort -n -k"$2" "$1" | awk -v k="$2" '{ v[NR] = $k } END { print v[int((NR + 1) / 2)] }'; }

printf '%-6s %-9s %9s %9s %9s %9s %9s %9s %7s %9s\n' size path ours_cpu gm_cpu ours_wall \
  gm_wall ours_MB gm_MB ratio limit_MB
for mb in $sizes; do
  "$build/bench/vorlund_bench_sample" "$mb" "$work/big.eml"
  n=$(stat -c %s "$work/big.eml")
  for path in SaveMime GetMime; do
    : >"$work/ours"
    : >"$work/theirs"
    for _ in $(seq "$reps"); do
      if [ "$path" = SaveMime ]; then
        run "$work/ours" /dev/null "$vormime" call "$work/big.eml" SaveMime "$work/out.eml"
        [ -z "$gmime" ] || run "$work/theirs" /dev/null "$gmime" "$work/big.eml" "$work/gout.eml"
      else
        run "$work/ours" "$work/out.eml" "$vormime" call "$work/big.eml" GetMime
        [ -z "$gmime" ] || run "$work/theirs" "$work/gout.eml" "$gmime" "$work/big.eml" -
      fi
    done
    ours_s=$(median "$work/ours" 1)
    ours_kb=$(median "$work/ours" 2)
    ours_w=$(median "$work/ours" 3)
    gm_s=0 gm_kb=0 gm_w=0
    if [ -n "$gmime" ]; then
      gm_s=$(median "$work/theirs" 1)
      gm_kb=$(median "$work/theirs" 2)
      gm_w=$(median "$work/theirs" 3)
    fi
    factor=$([ "$path" = SaveMime ] && echo 2 || echo 4)
    awk -v mb="$mb" -v p="$path" -v o="$ours_s" -v g="$gm_s" -v ok="$ours_kb" -v gk="$gm_kb" \
      -v ow="$ours_w" -v gw="$gm_w" -v n="$n" -v f="$factor" 'BEGIN {
        printf "%-6s %-9s %9.3f %9.3f %9.3f %9.3f %9.1f %9.1f %7.2f %9.1f\n", mb "MB", p, o, g,
          ow, gw, ok / 1024, gk / 1024, (o > 0 ? g / o : 0), f * n / 1048576 + 20 }'
  done
  rm -f "$work/out.eml" "$work/gout.eml"
done
echo "ratio: GMime's median CPU time / ours (above 1: ours is faster); limit: 2N+20 MB" \
  "(SaveMime), 4N+20 MB (GetMime)"
