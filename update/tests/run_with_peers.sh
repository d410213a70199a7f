#!/bin/bash
# Starts the download tests' peers on free loopback ports, runs a command with
# their ports in MX_* variables, and stops them again, also on failure.
#   run_with_peers.sh <work folder> <command> [args...]
# The work folder (in the build tree) gets the configs, logs and served files.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$1
shift
mkdir -p "$work/www" "$work/tmp" "$work/logs"
work=$(cd "$work" && pwd)
rm -rf "${work:?}/tmp/"*  # downloads of the last run
www=$work/www

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Served files, made once per build folder (random bytes, so no committed data).
make_file() {  # name size
    local f=$www/$1
    if [[ ! -f $f || $(stat -c %s "$f") -ne $2 ]]; then
        head -c "$2" /dev/urandom >"$f.part" && mv "$f.part" "$f"
    fi
}
make_file empty.bin 0
make_file one.bin 1
make_file small.bin 1000
make_file odd.bin 65543
make_file mid.bin 1048589
make_file big.bin 52428800
[[ ${MX_BENCH_SIZE:-} ]] && make_file bench.bin "$MX_BENCH_SIZE"
mkdir -p "$www/secret"
cp -f "$www/small.bin" "$www/secret/small.bin"

# Free loopback ports, n of them.  The picker's sockets are closed before the
# ports are told: a port still bound when a peer starts is refused to it.
free_ports() {
    python3 - "$1" <<'EOF'
import socket, sys
socks = [socket.socket() for _ in range(int(sys.argv[1]))]
for s in socks:
    s.bind(("127.0.0.1", 0))
ports = [str(s.getsockname()[1]) for s in socks]
for s in socks:
    s.close()
print(" ".join(ports))
EOF
}

# Waits until the process of each pid:port pair listens on that port; fails,
# naming the pairs that do not, once one has ended or after ten seconds.
peers_listening() {
    python3 - "$@" <<'EOF'
import os, sys, time
pairs = [tuple(int(x) for x in a.split(":")) for a in sys.argv[1:]]

def listeners():  # socket inode -> loopback port listened on
    found = {}
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            c = line.split()
            if c[3] == "0A" and c[1].startswith("0100007F:"):
                found[c[9]] = int(c[1].split(":")[1], 16)
    return found

def listens(pid, port, found):  # None once the process has ended
    try:
        with open(f"/proc/{pid}/stat") as f:
            if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                return None
        fds = os.listdir(f"/proc/{pid}/fd")
    except OSError:
        return None
    for fd in fds:
        try:
            link = os.readlink(f"/proc/{pid}/fd/{fd}")
        except OSError:
            continue
        if link.startswith("socket:[") and found.get(link[8:-1]) == port:
            return True
    return False

deadline = time.time() + 10
while True:
    found = listeners()
    state = [listens(pid, port, found) for pid, port in pairs]
    if all(state):
        sys.exit(0)
    if None in state or time.time() > deadline:
        break
    time.sleep(0.05)
ended = None in state
named = " ".join(f"{p}:{q}" for (p, q), s in zip(pairs, state) if s is None or (not ended and not s))
print(f"run_with_peers: {'ended' if ended else 'not listening after 10 s'} (pid:port): {named}", file=sys.stderr)
sys.exit(1)
EOF
}

# Records the peer started last and the ports it is to listen on.
started() { pids+=($!); for port; do listening+=("$!:$port"); done; }

# Writes the peers' configurations for the ports in p_*, starts the peers and
# waits until each listens on its own ports.
start_peers() {
    local listening=()
    # nginx: files, Range, redirects (absolute to a second port), Basic auth.
    printf 'mx:%s\n' "$(openssl passwd -apr1 'pa:ss w0rd')" >"$work/htpasswd"
    cat >"$work/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/nginx-error.log;
events { worker_connections 256; }
http {
    access_log off;
    client_body_temp_path $work/tmp/body;
    proxy_temp_path $work/tmp/proxy;
    fastcgi_temp_path $work/tmp/fastcgi;
    uwsgi_temp_path $work/tmp/uwsgi;
    scgi_temp_path $work/tmp/scgi;
    default_type application/octet-stream;
    sendfile on;
    server {
        listen 127.0.0.1:$p_nginx;
        root $www;
        location = /redir/abs { return 302 http://127.0.0.1:$p_nginx2/small.bin; }
        location = /redir/root { return 301 /odd.bin; }
        location = /redir/loop { return 302 /redir/loop; }
        location = /redir/chain1 { return 302 /redir/chain2; }
        location = /redir/chain2 { return 302 http://127.0.0.1:$p_nginx2/redir/back; }
        location /secret/ { auth_basic "mx"; auth_basic_user_file $work/htpasswd; }
    }
    server {
        listen 127.0.0.1:$p_nginx2;
        root $www;
        location = /redir/back { return 302 http://127.0.0.1:$p_nginx/mid.bin; }
        # The update window's knowledge base, slowly: tests act during its download.
        location = /download/morvix/update/db.zip { limit_rate 100k; }
    }
}
EOF
    nginx -p "$work" -c "$work/nginx.conf" 2>>"$work/logs/nginx-error.log" &
    started $p_nginx $p_nginx2

    cat >"$work/tinyproxy.conf" <<EOF
Port $p_tiny
Listen 127.0.0.1
Timeout 60
MaxClients 20
Allow 127.0.0.1
DisableViaHeader Yes
LogLevel Error
EOF
    [[ $(id -u) -eq 0 ]] && printf 'User nobody\nGroup nogroup\n' >>"$work/tinyproxy.conf"
    tinyproxy -d -c "$work/tinyproxy.conf" >"$work/logs/tinyproxy.log" 2>&1 &
    started $p_tiny

    microsocks -i 127.0.0.1 -p "$p_msocks" >"$work/logs/microsocks.log" 2>&1 &
    started $p_msocks
    microsocks -i 127.0.0.1 -p "$p_msocks_auth" -u mxuser -P mxpass >"$work/logs/microsocks-auth.log" 2>&1 &
    started $p_msocks_auth

    # dante speaks SOCKS4 (and 5); no authentication, loopback to loopback only.
    cat >"$work/danted.conf" <<EOF
logoutput: $work/logs/danted.log
internal: 127.0.0.1 port = $p_dante
external: 127.0.0.1
clientmethod: none
socksmethod: none
user.privileged: root
user.unprivileged: nobody
client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }
socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 command: connect }
EOF
    danted -f "$work/danted.conf" -p "$work/danted.pid" -N 1 >>"$work/logs/danted.log" 2>&1 &
    started $p_dante

    python3 "$here/peers.py" --http "$p_http" --socks4 "$p_socks4" --root "$www" \
        >"$work/logs/peers.log" 2>&1 &
    started $p_http $p_socks4
    peers_listening "${listening[@]}"
}

# Another program may take a free port before its peer binds it: then all the
# peers start again on other ports.
for attempt in 1 2 3 4 5; do
    read -r p_nginx p_nginx2 p_tiny p_msocks p_msocks_auth p_dante p_http p_socks4 < <(free_ports 8)
    start_peers && break
    cleanup
    pids=()
    [[ $attempt -lt 5 ]] || { echo "run_with_peers: the peers did not start; see $work/logs" >&2; exit 1; }
done

export MX_PEER_ROOT=$www MX_NGINX_PORT=$p_nginx MX_NGINX2_PORT=$p_nginx2 \
       MX_TINYPROXY_PORT=$p_tiny MX_MICROSOCKS_PORT=$p_msocks \
       MX_MICROSOCKS_AUTH_PORT=$p_msocks_auth MX_DANTE_PORT=$p_dante \
       MX_SCRIPTED_PORT=$p_http MX_SOCKS4_PORT=$p_socks4 MX_TEMP=$work/tmp
"$@"
