#!/usr/bin/env bash
# Runs deploy/nginx.conf on loopback in front of two endpoint copies that share one release folder,
# asks through it, and prints what each copy logged. Needs nginx (apt-get install nginx-light) and
# the native build (cmake --build --preset native). Ports: nginx 18370, the copies 18371 and 18372.
set -euo pipefail
cd "$(dirname "$0")/../.."
endpoint=build/native/endpoint/internetsetup-endpoint
command -v nginx >/dev/null || { echo "nginx is missing: apt-get install nginx-light" >&2; exit 1; }
[ -x "$endpoint" ] || { echo "$endpoint is missing: cmake --build --preset native" >&2; exit 1; }

work=$(mktemp -d)
pids=()
trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"' EXIT

# A stand-in installer with both tags laid out as the real one holds them.
mkdir "$work/releases"
tag() { printf '\xe3\x04\x01\x00\xff\xff\xff\xff%b\x00\x00\x00%s\x00' "$1" "$2"; }
{ head -c 4000 /dev/zero | tr '\0' 'x'; tag '\x0e' affid=00000000; printf '\x00'; tag '\x0f' affsid=00000000
  head -c 3000 /dev/zero | tr '\0' 'y'; } >"$work/releases/TalvimorasterSetup-2.53.0.0.exe"
printf 'version=2.53.0.0\nfile=TalvimorasterSetup-2.53.0.0.exe\n' >"$work/releases/release.txt"

for port in 18371 18372; do
  "$endpoint" --release-dir "$work/releases" --port "$port" --public-host 127.0.0.1:18370 \
    --trust-forwarded-for >"$work/endpoint-$port.log" 2>"$work/endpoint-$port.err" &
  pids+=($!)
done

mkdir -p "$work/nginx/logs"
sed -e 's/127\.0\.0\.1:18352/127.0.0.1:18371/; s/127\.0\.0\.1:18353/127.0.0.1:18372/' \
    -e 's/listen 80;/listen 127.0.0.1:18370;/' -e "s#^\(\s*server_name\).*#\1 localhost;#" \
    endpoint/deploy/nginx.conf >"$work/nginx/site.conf"
cat >"$work/nginx/nginx.conf" <<CONF
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 64; }
http {
  access_log $work/nginx/logs/access.log;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  include $work/nginx/site.conf;
}
CONF
nginx -t -p "$work/nginx" -c "$work/nginx/nginx.conf"
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
pids+=($!)

for _ in $(seq 50); do
  curl -s -o /dev/null http://127.0.0.1:18370/healthz && break
  sleep 0.1
done

query='?ISetupVer=02340000&affid=AbCd1234&affsid=Zz-_0099&rnd=4711'
echo "== four version requests through nginx"
for _ in 1 2 3 4; do curl -s "http://127.0.0.1:18370/version.php$query" | head -1; done
reply=$(curl -s "http://127.0.0.1:18370/version.php$query")
printf '%s\n' "$reply"
url=$(printf '%s\n' "$reply" | sed -n 's/^url=\(.*\)\r$/\1/p')
size=$(printf '%s\n' "$reply" | sed -n 's/^size=\(.*\)\r$/\1/p')
echo "== download of http://$url through nginx"
curl -s -o "$work/download.exe" -w 'status %{http_code}, %{size_download} bytes, %{content_type}\n' "http://$url$query"
[ "$(stat -c %s "$work/download.exe")" = "$size" ] && echo "size matches size=$size"
grep -a -o 'affid=........' "$work/download.exe"
grep -a -o 'affsid=........' "$work/download.exe"
echo "== HEAD and a bad request through nginx"
curl -s -I "http://$url" | tr -d '\r' | grep -E '^(HTTP|Content-Length|Content-Type)'
curl -s -o /dev/null -w 'no query: %{http_code}\n' http://127.0.0.1:18370/version.php
for port in 18371 18372; do
  echo "== copy on $port logged"
  cat "$work/endpoint-$port.log"
done
