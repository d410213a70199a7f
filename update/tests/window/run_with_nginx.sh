#!/bin/bash
# Starts nginx on a free loopback port serving <work>/www, runs a command with
# MX_NGINX_PORT and MX_PEER_ROOT set, and stops nginx again, also on failure.
#   run_with_nginx.sh <work folder> <command> [args...]
set -uo pipefail
work=$1
shift
mkdir -p "$work/www" "$work/tmp" "$work/logs"
work=$(cd "$work" && pwd)
rm -rf "${work:?}/www/"*

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/nginx-error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $work/tmp/body;
    proxy_temp_path $work/tmp/proxy;
    fastcgi_temp_path $work/tmp/fastcgi;
    uwsgi_temp_path $work/tmp/uwsgi;
    scgi_temp_path $work/tmp/scgi;
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
    }
}
CONF
nginx -p "$work" -c "$work/nginx.conf" 2>>"$work/logs/nginx-error.log" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT
trap 'exit 130' INT TERM
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.05
done
export MX_NGINX_PORT=$port MX_PEER_ROOT=$work/www
"$@"
