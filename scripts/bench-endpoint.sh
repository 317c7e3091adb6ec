#!/usr/bin/env bash
# The endpoint's part of the benchmarks: the Release build (preset "endpoint") against nginx from
# Debian serving the same bytes as static files, side by side in one run, interleaved round by round;
# wrk from Debian as the load, bench/slow_clients.cpp for the slow clients. Prints the rows of the
# table and writes them to build/bench/endpoint-results.md (figure, baseline, routine, ratio, goal, result).
#   scripts/bench-endpoint.sh   ports INTERNETSETUP_BENCH_ENDPOINT_PORT (default 18380) to +3, ROUNDS (default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
command -v wrk >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wrk; }
base=${INTERNETSETUP_BENCH_ENDPOINT_PORT:-18380}
rounds=${ROUNDS:-3}
seconds=${SECONDS_PER_RUN:-5}
out=$PWD/build/bench
work=$out/endpoint-work
mkdir -p "$out"
rm -rf "$work"
mkdir -p "$work/releases" "$work/nginx"

echo "== building the endpoint preset (Release) and the slow-client generator"
cmake --preset endpoint >/dev/null
cmake --build --preset endpoint --target internetsetup-endpoint slow_clients
endpoint=build/endpoint/endpoint/internetsetup-endpoint

# A 14,178,100-byte installer with both tags laid out as the real one holds them.
tag() { printf '\xe3\x04\x01\x00\xff\xff\xff\xff%b\x00\x00\x00%s\x00' "$1" "$2"; }
file=TalvimorasterSetup-2.53.0.0.exe
{ head -c 1156900 /dev/urandom; tag '\x0e' affid=00000000; printf '\x00'; tag '\x0f' affsid=00000000; } >"$work/head.bin"
{ cat "$work/head.bin"; head -c $((14178100 - $(stat -c %s "$work/head.bin"))) /dev/urandom; } >"$work/releases/$file"
printf 'version=2.53.0.0\nfile=%s\nsize=%s\n' "$file" "$(stat -c %s "$work/releases/$file")" >"$work/releases/release.txt"

pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true' EXIT
for port in $base $((base + 1)); do
  "$endpoint" --release-dir "$work/releases" --port "$port" --public-host "127.0.0.1:$((base + 3))" \
    >/dev/null 2>"$work/endpoint-$port.err" &
  pids+=($!)
done
endpoint_pid=${pids[0]}
query='?ISetupVer=02340000&affid=AbCd1234&affsid=Zz-_0099&rnd=4711'
for _ in $(seq 100); do grep -q "serving release" "$work/endpoint-$base.err" 2>/dev/null && break; sleep 0.1; done
exec 3<>/dev/tcp/127.0.0.1/$base
printf 'GET /version.php%s HTTP/1.1\r\nHost: b\r\nConnection: close\r\n\r\n' "$query" >&3
sed '1,/^\r$/d' <&3 >"$work/reply.txt"
exec 3<&-

# nginx: the same reply bytes and installer as static files (sendfile), and the operators' site
# with its cache in front of the two copies.
sed -e "s/127\.0\.0\.1:18352/127.0.0.1:$base/; s/127\.0\.0\.1:18353/127.0.0.1:$((base + 1))/" \
    -e "s/listen 80;/listen 127.0.0.1:$((base + 3));/" -e "s#/var/cache/nginx/internetsetup#$work/nginx/cache#" \
    endpoint/deploy/nginx.conf >"$work/nginx/site.conf"
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 8192; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$((base + 2));
    sendfile on;
    keepalive_requests 100000;
    location = /version.php { default_type text/plain; alias $work/reply.txt; }
    location /download/ { default_type application/octet-stream; alias $work/releases/; }
  }
  include $work/nginx/site.conf;
}
CONF
nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" &
pids+=($!)
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$((base + 2))) 2>/dev/null && break; sleep 0.1; done

# wrk's figure in the unit asked for: requests per second, or MB per second.
wrk_figure() { # KIND URL CONNECTIONS
  local text
  text=$(wrk -t2 -c"$3" -d"${seconds}s" --latency "$2")
  if [ "$1" = rps ]; then
    awk '/^Requests\/sec:/ {print $2}' <<<"$text"
  else
    awk '/^Transfer\/sec:/ {v=$2; u=substr(v, length(v)-1); v=substr(v, 1, length(v)-2);
         f = (u=="GB") ? 1024 : (u=="MB") ? 1 : (u=="KB") ? 1/1024 : 1/1048576; printf "%.1f\n", v*f}' <<<"$text"
  fi
}
wrk "http://127.0.0.1:$((base + 3))/download/$file$query" -t1 -c1 -d1s >/dev/null  # fills the cache
: >"$out/endpoint-raw.tsv"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for round in $(seq "$rounds"); do
  echo "== round $round of $rounds"
  printf 'version\tnginx\t%s\n' "$(wrk_figure rps "http://127.0.0.1:$((base + 2))/version.php$query" 64)" >>"$out/endpoint-raw.tsv"
  printf 'version\tendpoint\t%s\n' "$(wrk_figure rps "http://127.0.0.1:$base/version.php$query" 64)" >>"$out/endpoint-raw.tsv"
  printf 'download\tnginx\t%s\n' "$(wrk_figure mbs "http://127.0.0.1:$((base + 2))/download/$file" 4)" >>"$out/endpoint-raw.tsv"
  printf 'download\tendpoint\t%s\n' "$(wrk_figure mbs "http://127.0.0.1:$base/download/$file$query" 4)" >>"$out/endpoint-raw.tsv"
  printf 'cached\tnginx\t%s\n' "$(wrk_figure mbs "http://127.0.0.1:$((base + 2))/download/$file" 4)" >>"$out/endpoint-raw.tsv"
  printf 'cached\tsite\t%s\n' "$(wrk_figure mbs "http://127.0.0.1:$((base + 3))/download/$file$query" 4)" >>"$out/endpoint-raw.tsv"
done

echo "== 5000 slow clients held against the endpoint alone for 8 s, /healthz asked every 20 ms"
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$endpoint_pid/status"; }
idle=$(rss)
peak=$idle
build/endpoint/endpoint/slow_clients "$base" 5000 8 /healthz >"$work/slow.txt" &
slow_pid=$!
while kill -0 "$slow_pid" 2>/dev/null; do now=$(rss); [ "$now" -gt "$peak" ] && peak=$now; sleep 0.5; done
wait "$slow_pid"
sleep 2
after=$(rss)
printf 'slow\t%s\tidle_kib %s peak_kib %s after_kib %s\n' "$(cat "$work/slow.txt")" "$idle" "$peak" "$after" >>"$out/endpoint-raw.tsv"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

python3 - "$out" "$load_before" "$load_after" <<'PY'
import statistics, sys
out, before, after = sys.argv[1:4]
rows, raw = [], [l.rstrip("\n").split("\t") for l in open(f"{out}/endpoint-raw.tsv")]
def med(kind, who): return statistics.median(float(r[2]) for r in raw if r[0] == kind and r[1] == who)
def ratio_row(label, kind, who, base, unit, goal):
    b, r = med(kind, base), med(kind, who)
    ratio = r / b
    rows.append((label, f"{b:.0f} {unit}", f"{r:.0f} {unit}", f"{ratio:.2f}x", f">= {goal}x", "pass" if ratio >= goal else "miss"))
ratio_row("endpoint: version replies/s, keep-alive, 64 connections, vs nginx static file", "version", "endpoint", "nginx", "req/s", 0.8)
ratio_row("endpoint: 14 MB downloads, 4 connections, vs nginx static file with sendfile", "download", "endpoint", "nginx", "MB/s", 0.8)
ratio_row("endpoint: cached download through the nginx site vs nginx static file", "cached", "site", "nginx", "MB/s", 0.9)
slow = [r for r in raw if r[0] == "slow"][0]
f = slow[1].split() + slow[2].split()
v = dict(zip(f[0::2], f[1::2]))
answered, probes, within = int(v["answered"]), int(v["probes"]), int(v["within_100ms"])
share = within / probes if probes else 0
rows.append((f"endpoint: {v['slow']} slow clients held ({v['held']} still open at the end): /healthz within 100 ms",
             f"{probes} asked", f"{within} ({share:.1%}), p99 {v['p99_ms']} ms", "-", ">= 99 %", "pass" if share >= 0.99 else "miss"))
peak, idle, after_kib = int(v["peak_kib"]), int(v["idle_kib"]), int(v["after_kib"])
rows.append(("endpoint: resident memory, idle / with the slow clients / 2 s after they left", f"{idle} KiB",
             f"{peak} KiB / {after_kib} KiB", "-", "< 100 MB, back near idle",
             "pass" if peak < 100 * 1024 and after_kib < idle + 16 * 1024 else "miss"))
text = f"load average {before} before, {after} after\n\n| figure | baseline | routine | ratio | goal | result |\n|---|---|---|---|---|---|\n"
text += "".join("| " + " | ".join(r) + " |\n" for r in rows)
open(f"{out}/endpoint-results.md", "w").write(text)
print(text)
PY
