#!/usr/bin/env bash
# S/MIME through the host program beside `openssl cms` doing the same two steps on the same
# message, in the same run:
#   vormime sign --cert alice.p12 + vormime verify     beside  openssl cms -sign + -verify
#   vormime encrypt --to alice.pem + vormime decrypt   beside  openssl cms -encrypt + -decrypt
# (SHA-256 and AES-256 on both sides) on the generated big message of the MIME benchmarks.
# Runs of both sides alternate, REPS of each; prints the median CPU time (user + system) of
# each pair, its throughput and the ratio ours / OpenSSL's (the aim is at most 1.2).
#
#   bash bench/host/smime_bench.sh [BUILD_DIR]     (default build/release; REPS, SIZE in MB)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-build/release}")
reps=${REPS:-9}
size=${SIZE:-10}
vormime=${VORMIME:-$build/cli/vormime}
work=$(mktemp -d "${TMPDIR:-/tmp}/smimebench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export VORMIME_MODULE=${VORMIME_MODULE:-$(dirname "$vormime")/../component/libvorlundmime.so}
export VORLUND_ROOT=$work/root
mkdir -p "$VORLUND_ROOT"
cd "$work"

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj "/CN=Bench CA" \
  -days 30 -addext basicConstraints=critical,CA:TRUE 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout alice.key -out alice.csr \
  -subj "/CN=alice/emailAddress=alice@example.org" 2>/dev/null
openssl x509 -req -in alice.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out alice.pem \
  -days 30 2>/dev/null
openssl pkcs12 -export -inkey alice.key -in alice.pem -out alice.p12 -passout pass:bench
echo bench >pass
"$vormime" cert import alice.p12 --password-file pass >/dev/null 2>&1
"$vormime" cert import ca.pem --store root >/dev/null 2>&1
"$build/bench/vorlund_bench_sample" "$size" big.eml
n=$(stat -c %s big.eml)

cpu() {  # prints the CPU seconds of the command
  python3 "$here/cputime.py" /dev/null "$@" | cut -d' ' -f1
  [ "${PIPESTATUS[0]}" = 0 ] || exit 1
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >ours_sign; : >theirs_sign; : >ours_enc; : >theirs_enc
for _ in $(seq "$reps"); do
  a=$(cpu "$vormime" sign --cert alice.p12 --password-file pass big.eml s.eml)
  b=$(cpu "$vormime" verify s.eml)
  echo "$a $b" | awk '{ print $1 + $2 }' >>ours_sign
  a=$(cpu openssl cms -sign -md sha256 -signer alice.pem -inkey alice.key -in big.eml -out o.eml)
  b=$(cpu openssl cms -verify -CAfile ca.pem -in o.eml -out /dev/null)
  echo "$a $b" | awk '{ print $1 + $2 }' >>theirs_sign
  a=$(cpu "$vormime" encrypt --to alice.pem big.eml e.eml)
  b=$(cpu "$vormime" decrypt e.eml d.eml)
  echo "$a $b" | awk '{ print $1 + $2 }' >>ours_enc
  a=$(cpu openssl cms -encrypt -aes256 -in big.eml -out oe.eml alice.pem)
  b=$(cpu openssl cms -decrypt -in oe.eml -recip alice.pem -inkey alice.key -out od.eml)
  echo "$a $b" | awk '{ print $1 + $2 }' >>theirs_enc
done
printf '%-16s %9s %9s %9s %9s %7s\n' steps ours_cpu ossl_cpu ours_MB/s ossl_MB/s ratio
for pair in sign enc; do
  o=$(median <"ours_$pair"); t=$(median <"theirs_$pair")
  awk -v p="$pair" -v o="$o" -v t="$t" -v n="$n" 'BEGIN {
    printf "%-16s %9.3f %9.3f %9.1f %9.1f %7.2f\n", (p == "sign" ? "sign+verify" : "encrypt+decrypt"),
      o, t, n / 1e6 / o, n / 1e6 / t, o / t }'
done
