#!/usr/bin/env bash
# The update benchmark over an emulated wide-area link (run by
# bench/run_bench.sh after the loopback cases). nginx serves the files from
# a network namespace of its own, reached only through a pair of TUN
# devices that bench/link_emulator joins with a delay (and, per profile, a
# rate through a bounded buffer); the kernel here has no netem. The file
# list comes from the reference update server on loopback. Profiles:
#   50ms-rtt           25 ms each way, no rate limit (the machine's CPU is the limit)
#   50ms-rtt-100mbit   25 ms each way, 100 Mbit/s, a buffer of one round trip's bytes
# Sets: "small" (set A, 400 files, ~51 MB) and "large1" (one 256 MiB file).
# The installer (bench/update_bench) runs over HTTP/1.1 and HTTP/2, both
# over TLS; the baselines, in the same rounds: curl over one connection,
# curl --parallel --parallel-max 8 (HTTP/1.1), curl with HTTP/2 streams
# (--parallel --parallel-max 32). Medians of the rounds are compared:
#   bench wan-<profile> <set> <protocol> download_ratio=<installer / best baseline> link_ratio=<installer / ideal> peak_rss_mb=<n>
# where ideal = bytes / rate + one round trip (without a rate limit, the
# best throughput any run of the profile reached on the large file).
# Needs root (namespaces, TUN devices); otherwise it says so and measures
# nothing. Every wait is bounded; the namespace and devices go at the end.
#
# usage: bench/run_wan_bench.sh BUILD_DIR WORK_DIR
# Environment: BENCH_ROUNDS_WAN (3), BENCH_WAN_SETS ("large1 small").
set -euo pipefail
. "$(dirname "$0")/bench_common.sh"

BUILD=$(cd "$1" && pwd)
WORK=$2
BIN=$BUILD/bin
CERTS=$BUILD/testcerts
ROUNDS=${BENCH_ROUNDS_WAN:-3}
SETS=${BENCH_WAN_SETS:-large1 small}
TIME=/usr/bin/time
RTT_SECONDS=0.050
CLIENT_ADDR=10.77.0.1
SERVER_ADDR=10.77.0.2
H1_PORT=8443
H2_PORT=8444
NS=wsb-$$
TUN_A=wsba$$
TUN_B=wsbb$$

skip() {
  echo "bench wan: skipped: $*"
  exit 0
}
fail() {
  echo "run_wan_bench: $*" >&2
  exit 1
}

[ "$(id -u)" = 0 ] || skip "needs root for the network namespace and the TUN devices"
[ -c /dev/net/tun ] || skip "no /dev/net/tun"
command -v ip >/dev/null || skip "no ip command (iproute2)"
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$NGINX" ] || fail "nginx is not installed"
for needed in "$BIN/update_bench" "$BIN/refserver" "$BIN/link_emulator" "$CERTS/ca.pem" "$CERTS/ca.key"; do
  [ -e "$needed" ] || fail "$needed is missing (run make bench)"
done

LINK_PID=""
NGINX_PID=""
REF_PIDS=()

teardown_link() {
  stop_pid "$NGINX_PID" QUIT
  NGINX_PID=""
  stop_pid "$LINK_PID" TERM
  LINK_PID=""
  ip netns del "$NS" 2>/dev/null || true
}

cleanup() {
  local pid
  for pid in "${REF_PIDS[@]}"; do stop_pid "$pid" TERM; done
  REF_PIDS=()
  teardown_link
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$WORK/wan/www" "$WORK/wan/lists" "$WORK/wan/runs" "$WORK/wan/nginx/temp" "$WORK/wan/certs"
W=$WORK/wan
for set in $SETS; do
  [ -e "$WORK/www/$set.manifest" ] || "$BIN/update_bench" make-set "$set" "$WORK/www" >/dev/null ||
    fail "cannot make the $set set"
done

# A certificate for the server's link address, signed by the test CA.
openssl req -new -newkey rsa:2048 -nodes -sha256 -subj "/CN=$SERVER_ADDR" \
  -keyout "$W/certs/link.key" -out "$W/certs/link.csr" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\nsubjectAltName=IP:%s\n' \
  "$SERVER_ADDR" >"$W/certs/link.ext"
openssl x509 -req -sha256 -days 2 -set_serial 77 -in "$W/certs/link.csr" -CA "$CERTS/ca.pem" -CAkey "$CERTS/ca.key" \
  -extfile "$W/certs/link.ext" -out "$W/certs/link.pem" 2>/dev/null || fail "cannot sign the link certificate"

# --- The link and the file server -------------------------------------------

# setup_link DELAY_MS RATE_BITS BUFFER_BYTES
setup_link() {
  ip netns add "$NS"
  "$BIN/link_emulator" "$TUN_A" "$TUN_B" "$1" "$2" "$3" 7200 >"$W/link.out" 2>"$W/link.err" &
  LINK_PID=$!
  local tries
  for tries in $(seq 50); do
    grep -q '^ready' "$W/link.out" 2>/dev/null && break
    kill -0 "$LINK_PID" 2>/dev/null || break
    sleep 0.1
  done
  grep -q '^ready' "$W/link.out" || { cat "$W/link.err" >&2; fail "the link emulator did not start"; }
  ip link set "$TUN_B" netns "$NS"
  ip addr add "$CLIENT_ADDR" peer "$SERVER_ADDR" dev "$TUN_A"
  ip link set "$TUN_A" mtu 1500 up
  ip netns exec "$NS" ip link set lo up
  ip netns exec "$NS" ip addr add "$SERVER_ADDR" peer "$CLIENT_ADDR" dev "$TUN_B"
  ip netns exec "$NS" ip link set "$TUN_B" mtu 1500 up

  nginx_config "$W/nginx" "  ssl_certificate $W/certs/link.pem;
  ssl_certificate_key $W/certs/link.key;
  server {
    listen $SERVER_ADDR:$H1_PORT ssl;
    root $WORK/www;
  }
  server {
    listen $SERVER_ADDR:$H2_PORT ssl http2;
    root $WORK/www;
  }" >"$W/nginx/nginx.conf"
  ip netns exec "$NS" "$NGINX" -p "$W/nginx" -e "$W/nginx/error.log" -c "$W/nginx/nginx.conf" -g 'daemon off;' \
    </dev/null >/dev/null 2>&1 &
  NGINX_PID=$!
  for tries in $(seq 100); do
    kill -0 "$NGINX_PID" 2>/dev/null || break
    if [ "$(curl -s -o /dev/null -m 5 -w '%{http_code}' --cacert "$CERTS/ca.pem" "https://$SERVER_ADDR:$H1_PORT/")" != 000 ] &&
      [ "$(curl -s -o /dev/null -m 5 -w '%{http_code}' --cacert "$CERTS/ca.pem" "https://$SERVER_ADDR:$H2_PORT/")" != 000 ]; then
      return 0
    fi
    sleep 0.2
  done
  cat "$W/nginx/error.log" >&2 || true
  fail "nginx did not start in the namespace"
}

# start_refserver REPLIES; sets REF_PORT.
start_refserver() {
  local out=$W/refserver.$RANDOM line=""
  "$BIN/refserver" --http-port 0 --https-port 0 --cert "$CERTS/server.pem" --key "$CERTS/server.key" \
    --replies "$1" </dev/null >"$out.out" 2>"$out.err" &
  REF_PIDS+=("$!")
  local tries
  for tries in $(seq 100); do
    line=$(grep -m1 '^listening ' "$out.out" || true)
    [ -n "$line" ] && break
    sleep 0.1
  done
  [ -n "$line" ] || { cat "$out.err" >&2; fail "the reference server did not start"; }
  REF_PORT=$(sed -n 's/.* https=\([0-9]*\).*/\1/p' <<<"$line")
}

stop_refservers() {
  local pid
  for pid in "${REF_PIDS[@]}"; do stop_pid "$pid" TERM; done
  REF_PIDS=()
}

# --- Runs ------------------------------------------------------------------

fmt() { awk -v v="$1" 'BEGIN { printf "%.3f", v }'; }

# run_installer SET PORT: sets SECONDS_TAKEN and RSS_KB.
run_installer() {
  local set=$1 port=$2 dest=$W/runs/install out
  rm -rf "$dest"
  if ! out=$(timeout 900 "$TIME" -f '%M' -o "$W/rss" "$BIN/update_bench" install --port "$port" \
    --ca "$CERTS/ca.pem" --install "$dest" --set "$WORK/www/$set" </dev/null 2>"$W/install.err"); then
    cat "$W/install.err" >&2
    fail "the installer run of the $set set failed"
  fi
  SECONDS_TAKEN=$(sed -n 's/.*download_seconds=\([0-9.]*\).*/\1/p' <<<"$out")
  RSS_KB=$(tail -n1 "$W/rss")
  rm -rf "$dest"
}

# run_curl SET CONFIG ARGS...: sets SECONDS_TAKEN.
run_curl() {
  local set=$1 config=$2 t0 t1
  shift 2
  rm -rf "$W/runs/curl"
  t0=$(now)
  timeout 900 curl -sS --no-progress-meter --fail --create-dirs --cacert "$CERTS/ca.pem" "$@" -K "$config" || fail "curl $* failed"
  t1=$(now)
  SECONDS_TAKEN=$(elapsed "$t0" "$t1")
  "$BIN/update_bench" verify "$WORK/www/$set" "$W/runs/curl" >/dev/null || fail "curl $* did not fetch the $set set"
  rm -rf "$W/runs/curl"
}

set_bytes() { awk '{ s += $3 } END { printf "%.0f", s }' "$WORK/www/$1.manifest"; }

RESULTS=()
# name delay_ms rate_bits buffer_bytes (one round trip's bytes at the rate)
for profile in "50ms-rtt 25 0 0" "50ms-rtt-100mbit 25 100000000 625000"; do
  read -r pname delay rate buffer <<<"$profile"
  setup_link "$delay" "$rate" "$buffer"
  echo "wan $pname: link $CLIENT_ADDR <-> $SERVER_ADDR, ${delay} ms each way, rate ${rate} bit/s, buffer ${buffer} bytes"
  best_rate=0
  for set in $SETS; do
    bytes=$(set_bytes "$set")
    for protocol in http1 http2; do
      port=$H1_PORT
      [ "$protocol" = http2 ] && port=$H2_PORT
      "$BIN/update_bench" make-list "$WORK/www" "$set" "https://$SERVER_ADDR:$port" "$W/lists/$set-$protocol.reply" \
        "$W/lists/$set-$protocol.curl" "$W/runs/curl" || fail "cannot make the $set list"
      echo "acfile=11 $W/lists/$set-$protocol.reply" >"$W/lists/$set-$protocol.replies"
    done
    start_refserver "$W/lists/$set-http1.replies"
    ref_h1=$REF_PORT
    start_refserver "$W/lists/$set-http2.replies"
    ref_h2=$REF_PORT

    i1=() i2=() c1=() c8=() ch2=() rss=()
    for round in $(seq "$ROUNDS"); do
      run_installer "$set" "$ref_h1"; i1+=("$SECONDS_TAKEN"); rss+=("$RSS_KB")
      run_installer "$set" "$ref_h2"; i2+=("$SECONDS_TAKEN"); rss+=("$RSS_KB")
      run_curl "$set" "$W/lists/$set-http1.curl" --http1.1; c1+=("$SECONDS_TAKEN")
      run_curl "$set" "$W/lists/$set-http1.curl" --http1.1 --parallel --parallel-max 8; c8+=("$SECONDS_TAKEN")
      run_curl "$set" "$W/lists/$set-http2.curl" --http2 --parallel --parallel-max 32; ch2+=("$SECONDS_TAKEN")
      echo "  wan-$pname $set round $round: installer http1 $(fmt "${i1[-1]}") s, http2 $(fmt "${i2[-1]}") s |" \
        "curl one connection $(fmt "${c1[-1]}") s, --parallel-max 8 $(fmt "${c8[-1]}") s, http2 $(fmt "${ch2[-1]}") s"
    done
    stop_refservers

    m1=$(median "${i1[@]}") m2=$(median "${i2[@]}")
    b1=$(median "${c1[@]}") b8=$(median "${c8[@]}") bh2=$(median "${ch2[@]}")
    best=$(minimum "$b1" "$b8" "$bh2")
    if [ "$rate" != 0 ]; then
      ideal=$(awk -v n="$bytes" -v r="$rate" -v t="$RTT_SECONDS" 'BEGIN { printf "%.6f", n * 8 / r + t }')
    else
      # No rate limit: the best throughput reached on the large file stands for the link's.
      if [ "$set" = large1 ]; then
        best_rate=$(awk -v n="$bytes" -v t="$(minimum "$m1" "$m2" "$b1" "$b8" "$bh2")" 'BEGIN { printf "%.0f", n * 8 / t }')
      fi
      # Without the large file in this run the link's rate is unknown.
      ideal=""
      [ "$best_rate" = 0 ] || ideal=$(awk -v n="$bytes" -v r="$best_rate" -v t="$RTT_SECONDS" 'BEGIN { printf "%.6f", n * 8 / r + t }')
    fi
    link_ratio() { if [ -n "$ideal" ]; then ratio "$1" "$ideal"; else echo n/a; fi; }
    peak_mb=$(awk -v k="$(maximum "${rss[@]}")" 'BEGIN { printf "%.0f", k / 1024 }')
    echo "case wan-$pname $set ($ROUNDS rounds, medians): installer http1 $(fmt "$m1") s, http2 $(fmt "$m2") s;" \
      "curl one connection $(fmt "$b1") s, --parallel-max 8 $(fmt "$b8") s, http2 $(fmt "$bh2") s; ideal $(if [ -n "$ideal" ]; then echo "$(fmt "$ideal") s"; else echo n/a; fi)"
    RESULTS+=("bench wan-$pname $set http1 download_ratio=$(ratio "$m1" "$best") link_ratio=$(link_ratio "$m1") peak_rss_mb=$peak_mb")
    RESULTS+=("bench wan-$pname $set http2 download_ratio=$(ratio "$m2" "$best") link_ratio=$(link_ratio "$m2") peak_rss_mb=$peak_mb")
  done
  teardown_link
  cat "$W/link.err" || true
done

rm -rf "$W"
printf '%s\n' "${RESULTS[@]}"
