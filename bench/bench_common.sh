# Shared by the benchmark scripts (sourced): process ends, timing, medians,
# ratios and the nginx settings every file server of the benchmark uses.

stop_pid() {
  local pid=$1 signal=$2
  [ -n "$pid" ] || return 0
  kill "-$signal" "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

now() { echo "$EPOCHREALTIME"; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { printf '%s\n' "$@" | sort -g | tail -n1; }
minimum() { printf '%s\n' "$@" | sort -g | head -n1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# nginx_config DIR SERVERS: an nginx configuration with its pid, log and
# temporary files under DIR (sendfile, keep-alive without limits, no access
# log) and the server blocks SERVERS.
nginx_config() {
  local dir=$1 servers=$2
  cat <<CONF
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 512; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  tcp_nodelay on;
  keepalive_timeout 300s;
  keepalive_requests 100000;
  http2_max_concurrent_streams 128;
  default_type application/octet-stream;
  client_body_temp_path $dir/temp/body;
  proxy_temp_path $dir/temp/proxy;
  fastcgi_temp_path $dir/temp/fastcgi;
  uwsgi_temp_path $dir/temp/uwsgi;
  scgi_temp_path $dir/temp/scgi;
$servers
}
CONF
}
