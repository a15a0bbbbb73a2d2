#!/usr/bin/env bash
# The update benchmark (`make bench`): two file sets, each downloaded and
# applied by the real update worker (bench/update_bench) over HTTP and over
# HTTPS, against two baselines measured in the same run:
#   - curl fetching the same files one after another over one kept-alive
#     connection (one invocation, every address with its own output);
#   - `cp -r` of the same tree from a finished download folder into a fresh
#     folder on the same file system.
# The files come from nginx on loopback (sendfile, keep-alive), the file
# list from the reference update server; both run only for the benchmark.
# Runs alternate (installer, the installer with the HTML player when it is
# built, curl, cp) after one warm-up of each; medians are quoted. The
# output ends with one line per case:
#   bench <set> <protocol> download_ratio=<installer/curl> apply_ratio=<installer/cp> peak_rss_mb=<n>
#
# After them, the wide-area cases (bench/run_wan_bench.sh) add their lines:
#   bench wan-<profile> <set> <protocol> download_ratio=... link_ratio=... peak_rss_mb=<n>
#
# usage: bench/run_bench.sh [BUILD_DIR]   (default: build-bench)
# Environment: BENCH_SETS ("small large"), BENCH_ROUNDS_SMALL (5), BENCH_ROUNDS_LARGE (5),
# BENCH_ROUNDS_WAN (3), BENCH_WAN_SETS ("large1 small"; the link ratio of the profile
# without a rate limit needs large1), BENCH_LOOPBACK=0 / BENCH_WAN=0 (leave those cases out), BENCH_TMPDIR
# (/var/tmp: the work folder needs about 5 GB on a disk-backed file system).
#
# With the HTML player built (WebKitGTK) the benchmark runs on a display of
# its own (xvfb-run) when none is named, and adds: the installer's runs with
# the HTML player attached (every progress call into the reference
# installer movie), and attached with the calls dropped before the movie,
# "bench <set> <protocol>-html download_ratio=... calls_ratio=<attached /
# attached with the calls dropped>" lines (what the progress calls cost);
# and the player's protocol round trip and first paint (bench/html_bench):
#   bench html roundtrip_median_ms=<ms> roundtrip_p99_ms=<ms> progress_cpu_ms=<ms> first_paint_ms=<ms>
set -euo pipefail
. "$(dirname "$0")/bench_common.sh"

if [ -x "${1:-build-bench}/bin/html_bench" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WEBSETUP_BENCH_XVFB:-}" ] &&
  command -v xvfb-run >/dev/null; then
  WEBSETUP_BENCH_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

BUILD=$(cd "${1:-build-bench}" && pwd)
BIN=$BUILD/bin
CERTS=$BUILD/testcerts
ROUNDS_SMALL=${BENCH_ROUNDS_SMALL:-5}
ROUNDS_LARGE=${BENCH_ROUNDS_LARGE:-5}
TIME=/usr/bin/time

for needed in "$BIN/update_bench" "$BIN/refserver" "$CERTS/server.pem" "$CERTS/server.key" "$CERTS/ca.pem" "$TIME"; do
  [ -e "$needed" ] || { echo "run_bench: $needed is missing (run make bench)" >&2; exit 1; }
done
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$NGINX" ] || { echo "run_bench: nginx is not installed" >&2; exit 1; }

# Loopback only, never through a proxy the environment may name.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost

# On loopback the server and the client share the machine's cores. Left to
# the scheduler, the two often land on one core (it wakes a reader where its
# writer runs) and 1 GiB takes three to five times as long as on two cores,
# run to run, for the installer and curl alike. The loopback cases keep the
# servers on the first core and every client (the installer with its web
# engine's processes, curl, cp) on the others, as a remote server would be.
SERVER_CPUS=() CLIENT_CPUS=()
cores=$(nproc)
if [ "$cores" -ge 2 ] && command -v taskset >/dev/null; then
  SERVER_CPUS=(taskset -c 0) CLIENT_CPUS=(taskset -c "1-$((cores - 1))")
fi

# Freed memory: a virtual machine may hand memory freed by its guest back to
# its host (free page reporting), here within about 1.5 s of 1 GiB of files
# being deleted, and writing into memory the host must give again took up to
# twice as long (1 GiB over HTTPS: 2.9-3.0 s after a 3 s pause, 1.1-1.8 s
# without), whichever program wrote. Where the kernel lets root say how
# long memory must stay free before it is reported, the benchmark holds the
# reporting off while it runs (5 min) and restores the setting after.
# Elsewhere every timed run deletes the previous run's output right before
# it writes its own: curl and cp as they start, the installer once its
# player is ready (update_bench --discard).
REPORTING_KNOB=/sys/module/page_reporting/parameters/min_free_ms
REPORTING_SAVED=""
WORK=$(mktemp -d "${BENCH_TMPDIR:-/var/tmp}/websetup-bench-XXXXXX")
chmod 755 "$WORK"  # nginx's workers may run as another user
NGINX_PID=""
REF_PID=""

cleanup() {
  stop_pid "$REF_PID" TERM
  REF_PID=""
  stop_pid "$NGINX_PID" QUIT
  NGINX_PID=""
  rm -rf "$WORK"
  [ -z "$REPORTING_SAVED" ] || echo "$REPORTING_SAVED" >"$REPORTING_KNOB" || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM
if [ -w "$REPORTING_KNOB" ] && saved=$(cat "$REPORTING_KNOB") && (echo 300000 >"$REPORTING_KNOB") 2>/dev/null; then
  REPORTING_SAVED=$saved
fi

fail() {
  echo "run_bench: $*" >&2
  exit 1
}

available_kb=$(df -Pk "$WORK" | awk 'NR == 2 { print $4 }')
[ "$available_kb" -gt 5000000 ] || fail "$WORK has less than 5 GB free"

# --- File sets and servers ---------------------------------------------

mkdir -p "$WORK/www" "$WORK/home" "$WORK/lists" "$WORK/runs" "$WORK/nginx/temp"
for set in ${BENCH_SETS:-small large}; do
  [ "${BENCH_LOOPBACK:-1}" = 1 ] || break
  "$BIN/update_bench" make-set "$set" "$WORK/www" || fail "cannot make the $set set"
done
# The installer's settings live under the user's XDG folders: keep them in
# the work folder.
export HOME=$WORK/home XDG_DATA_HOME=$WORK/home/data XDG_CONFIG_HOME=$WORK/home/config

start_nginx() {
  local attempt
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    HTTP_PORT=$((20000 + RANDOM % 20000))
    HTTPS_PORT=$((HTTP_PORT + 1))
    nginx_config "$WORK/nginx" "  server {
    listen 127.0.0.1:$HTTP_PORT;
    listen 127.0.0.1:$HTTPS_PORT ssl;
    ssl_certificate $CERTS/server.pem;
    ssl_certificate_key $CERTS/server.key;
    root $WORK/www;
  }" >"$WORK/nginx/nginx.conf"
    "${SERVER_CPUS[@]}" "$NGINX" -p "$WORK/nginx" -e "$WORK/nginx/error.log" -c "$WORK/nginx/nginx.conf" -g 'daemon off;' \
      </dev/null >/dev/null 2>&1 &
    NGINX_PID=$!
    local tries
    for tries in $(seq 100); do
      if ! kill -0 "$NGINX_PID" 2>/dev/null; then break; fi
      # Any answer will do: both ports are listening.
      if [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$HTTP_PORT/")" != 000 ] &&
        [ "$(curl -s -o /dev/null -w '%{http_code}' --cacert "$CERTS/ca.pem" "https://127.0.0.1:$HTTPS_PORT/")" != 000 ]; then
        return 0
      fi
      sleep 0.1
    done
    stop_pid "$NGINX_PID" QUIT
    NGINX_PID=""
  done
  cat "$WORK/nginx/error.log" >&2 || true
  fail "nginx did not start"
}

# The reference server with the reply set of one case; REF_PORT is its
# HTTPS port (the update server's exchanges go over TLS).
start_refserver() {
  local replies=$1 line=""
  "${SERVER_CPUS[@]}" "$BIN/refserver" --http-port 0 --https-port 0 --cert "$CERTS/server.pem" --key "$CERTS/server.key" \
    --replies "$replies" </dev/null >"$WORK/refserver.out" 2>"$WORK/refserver.err" &
  REF_PID=$!
  local tries
  for tries in $(seq 100); do
    line=$(grep -m1 '^listening ' "$WORK/refserver.out" || true)
    [ -n "$line" ] && break
    kill -0 "$REF_PID" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$line" ] || { cat "$WORK/refserver.err" >&2; fail "the reference server did not start"; }
  REF_PORT=$(sed -n 's/.* https=\([0-9]*\).*/\1/p' <<<"$line")
}

stop_refserver() {
  stop_pid "$REF_PID" TERM
  REF_PID=""
}

# --- One run of each kind -------------------------------------------------

HTML_MOVIE=$BUILD/sample-client/movies/DlgUpdater.qrx
HTML=""
if [ -x "$BIN/html_bench" ] && [ -x "$BIN/update_bench_html" ] && [ -n "${DISPLAY:-}" ] && [ -f "$HTML_MOVIE" ]; then
  HTML=yes
fi

# Sets INSTALL_DOWNLOAD, INSTALL_APPLY (seconds) and INSTALL_RSS_KB. A
# second argument "html" attaches the HTML player; "html-silent" attaches it
# and drops the movie calls before they reach it.
run_installer() {
  local set=$1 dest=$WORK/runs/install out
  local program=$BIN/update_bench player=()
  [ "${2:-}" = html ] && program=$BIN/update_bench_html player=(--html "$HTML_MOVIE")
  [ "${2:-}" = html-silent ] && program=$BIN/update_bench_html player=(--html "$HTML_MOVIE" --html-calls off)
  # The last run's tree goes when this run begins, however long its player
  # takes to start (see "Freed memory" above).
  rm -rf "$WORK/runs/discard"
  [ -e "$dest" ] && mv "$dest" "$WORK/runs/discard"
  sync
  if ! out=$("${CLIENT_CPUS[@]}" "$TIME" -f '%M' -o "$WORK/rss" "$program" install --port "$REF_PORT" \
    --ca "$CERTS/ca.pem" --install "$dest" --set "$WORK/www/$set" --discard "$WORK/runs/discard" "${player[@]}" \
    </dev/null 2>"$WORK/install.err"); then
    cat "$WORK/install.err" >&2
    fail "the installer run of the $set set failed"
  fi
  INSTALL_DOWNLOAD=$(sed -n 's/.*download_seconds=\([0-9.]*\).*/\1/p' <<<"$out")
  INSTALL_APPLY=$(sed -n 's/.*apply_seconds=\([0-9.]*\).*/\1/p' <<<"$out")
  INSTALL_RSS_KB=$(tail -n1 "$WORK/rss")
  [ -n "$INSTALL_DOWNLOAD" ] && [ -n "$INSTALL_APPLY" ] || fail "no phase times in: $out"
}

# Sets CURL_SECONDS; leaves the download in $WORK/runs/curl.
run_curl() {
  local set=$1 protocol=$2 dest=$WORK/runs/curl t0 t1
  local tls=()
  [ "$protocol" = https ] && tls=(--cacert "$CERTS/ca.pem")
  rm -rf "$dest"
  sync
  t0=$(now)
  "${CLIENT_CPUS[@]}" curl -sS --fail --create-dirs "${tls[@]}" -K "$WORK/lists/$set-$protocol.curl" || fail "curl failed"
  t1=$(now)
  CURL_SECONDS=$(elapsed "$t0" "$t1")
  "$BIN/update_bench" verify "$WORK/www/$set" "$dest" >/dev/null || fail "curl did not fetch the $set set"
}

# Sets CP_SECONDS.
run_cp() {
  local set=$1 from=$WORK/runs/curl dest=$WORK/runs/cp t0 t1
  rm -rf "$dest"
  sync
  t0=$(now)
  "${CLIENT_CPUS[@]}" cp -r "$from" "$dest"
  t1=$(now)
  CP_SECONDS=$(elapsed "$t0" "$t1")
  "$BIN/update_bench" verify "$WORK/www/$set" "$dest" >/dev/null || fail "cp did not copy the $set set"
}

fmt() { awk -v v="$1" 'BEGIN { printf "%.4f", v }'; }

# --- The cases ------------------------------------------------------------

start_nginx
echo "nginx on 127.0.0.1:$HTTP_PORT (http) and :$HTTPS_PORT (https)"
if [ ${#SERVER_CPUS[@]} -gt 0 ]; then
  echo "servers on core 0, clients on cores 1-$((cores - 1))"
else
  echo "servers and clients share the cores (one core, or no taskset)"
fi
[ -z "$REPORTING_SAVED" ] || echo "free page reporting held off (min_free_ms 300000, was $REPORTING_SAVED)"

RESULTS=()
[ "${BENCH_LOOPBACK:-1}" = 1 ] || echo "loopback cases skipped (BENCH_LOOPBACK=0)"
for set in ${BENCH_SETS:-small large}; do
  [ "${BENCH_LOOPBACK:-1}" = 1 ] || break
  rounds=$ROUNDS_SMALL
  [ "$set" = large ] && rounds=$ROUNDS_LARGE
  for protocol in http https; do
    port=$HTTP_PORT
    [ "$protocol" = https ] && port=$HTTPS_PORT
    "$BIN/update_bench" make-list "$WORK/www" "$set" "$protocol://127.0.0.1:$port" \
      "$WORK/lists/$set-$protocol.reply" "$WORK/lists/$set-$protocol.curl" "$WORK/runs/curl" ||
      fail "cannot make the $set list"
    echo "acfile=11 $WORK/lists/$set-$protocol.reply" >"$WORK/lists/$set-$protocol.replies"
    start_refserver "$WORK/lists/$set-$protocol.replies"

    # Warm-up: caches, connections, the first touch of every file.
    run_installer "$set"
    run_curl "$set" "$protocol"
    run_cp "$set"

    [ -n "$HTML" ] && run_installer "$set" html
    downloads=() applies=() curls=() cps=() rss=() html_downloads=() html_applies=() html_rss=() silent_downloads=()
    # The runs with the HTML player follow the installer's own at once: the
    # machine's speed drifts over minutes, and the two are compared.
    for round in $(seq "$rounds"); do
      run_installer "$set"
      downloads+=("$INSTALL_DOWNLOAD") applies+=("$INSTALL_APPLY") rss+=("$INSTALL_RSS_KB")
      echo -n "  $set $protocol round $round: installer download $(fmt "$INSTALL_DOWNLOAD") s apply $(fmt "$INSTALL_APPLY") s" \
        "rss ${INSTALL_RSS_KB} KiB"
      if [ -n "$HTML" ]; then
        run_installer "$set" html
        html_downloads+=("$INSTALL_DOWNLOAD") html_applies+=("$INSTALL_APPLY") html_rss+=("$INSTALL_RSS_KB")
        run_installer "$set" html-silent
        silent_downloads+=("$INSTALL_DOWNLOAD")
        echo -n " | with the HTML player $(fmt "${html_downloads[-1]}") s, calls dropped $(fmt "$INSTALL_DOWNLOAD") s"
      fi
      run_curl "$set" "$protocol"
      run_cp "$set"
      curls+=("$CURL_SECONDS") cps+=("$CP_SECONDS")
      echo " | curl $(fmt "$CURL_SECONDS") s | cp -r $(fmt "$CP_SECONDS") s"
    done
    stop_refserver

    download=$(median "${downloads[@]}")
    apply=$(median "${applies[@]}")
    curl_time=$(median "${curls[@]}")
    cp_time=$(median "${cps[@]}")
    peak_mb=$(awk -v k="$(maximum "${rss[@]}")" 'BEGIN { printf "%.0f", k / 1024 }')
    echo "case $set $protocol ($rounds rounds, medians): installer download phase $(fmt "$download") s," \
      "apply phase $(fmt "$apply") s, peak RSS $peak_mb MB; curl $(fmt "$curl_time") s; cp -r $(fmt "$cp_time") s"
    RESULTS+=("bench $set $protocol download_ratio=$(ratio "$download" "$curl_time") apply_ratio=$(ratio "$apply" "$cp_time") peak_rss_mb=$peak_mb")
    if [ -n "$HTML" ]; then
      html_peak=$(awk -v k="$(maximum "${html_rss[@]}")" 'BEGIN { printf "%.0f", k / 1024 }')
      html_time=$(median "${html_downloads[@]}")
      RESULTS+=("bench $set $protocol-html download_ratio=$(ratio "$html_time" "$curl_time") apply_ratio=$(ratio "$(median "${html_applies[@]}")" "$cp_time") peak_rss_mb=$html_peak calls_ratio=$(ratio "$html_time" "$(median "${silent_downloads[@]}")")")
    fi
  done
done

rm -rf "$WORK/runs"
if [ -n "$HTML" ]; then
  out=$("$BIN/html_bench" "$HTML_MOVIE" "${BENCH_ROUNDTRIPS:-2000}") || fail "html_bench failed"
  RESULTS+=("bench html $(sed -n 's/first_paint_ms=\([0-9.]*\) \(.*\)/\2 first_paint_ms=\1/p' <<<"$out")")
fi
stop_pid "$NGINX_PID" QUIT
NGINX_PID=""

# The same installer over an emulated wide-area link (bench/run_wan_bench.sh).
if [ "${BENCH_WAN:-1}" = 1 ]; then
  "$(dirname "$0")/run_wan_bench.sh" "$BUILD" "$WORK" | tee "$WORK/wan.out" || fail "the wide-area cases failed"
  while IFS= read -r line; do RESULTS+=("$line"); done < <(grep '^bench wan' "$WORK/wan.out" || true)
fi
printf '%s\n' "${RESULTS[@]}"
