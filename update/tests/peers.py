#!/usr/bin/env python3
"""Scripted peers for the download tests, on 127.0.0.1 only.

--http PORT: an HTTP server that misbehaves on purpose, one path per way.
--socks4 PORT: a SOCKS4/SOCKS4a server; user id "deny" is refused, "close"
               is dropped before any reply, "split" gets its reply in pieces.
--root DIR: the folder the files are served from (the same as nginx's).
"""
import argparse
import os
import socket
import struct
import threading
import time
from urllib.parse import urlsplit, parse_qs, unquote

ROOT = "."


def recv_header(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


def reset(conn):
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    conn.close()


def served(name):
    with open(os.path.join(ROOT, os.path.basename(name)), "rb") as f:
        return f.read()


def handle_http(conn):
    request = recv_header(conn)
    try:
        target = request.split(b" ")[1].decode("latin-1")
    except IndexError:
        conn.close()
        return
    parts = urlsplit(target)
    path, query = parts.path, parse_qs(parts.query)
    ok = b"HTTP/1.0 200 OK\r\n"

    if path == "/echo":
        conn.sendall(ok + b"Content-Length: %d\r\n\r\n" % len(request) + request)
    elif path == "/early-close":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Le")
    elif path == "/silent-close":
        pass
    elif path == "/huge-header":
        conn.sendall(ok + b"X-Filler: " + b"a" * (70 * 1024) + b"\r\n\r\nbody")
    elif path == "/bad-length":
        conn.sendall(ok + b"Content-Length: 12abc\r\n\r\nhello world!")
    elif path == "/two-lengths":
        conn.sendall(ok + b"Content-Length: 5\r\nContent-Length: 7\r\n\r\nhello w")
    elif path == "/reset":
        conn.sendall(ok + b"Content-Length: 100000\r\n\r\n" + b"x" * 1000)
        time.sleep(0.2)
        reset(conn)
        return
    elif path == "/short":
        conn.sendall(ok + b"Content-Length: 1000\r\n\r\n" + b"s" * 500)
    elif path == "/no-length":
        conn.sendall(ok + b"\r\n" + b"n" * 3000)
    elif path == "/keep-open":
        conn.sendall(ok + b"Content-Length: 10\r\n\r\n0123456789")
        time.sleep(5)
    elif path == "/extra-bytes":
        conn.sendall(ok + b"Content-Length: 4\r\n\r\nabcdEXTRA")
    elif path == "/split-header":
        body = served("odd.bin")
        head = ok + b"Content-Length: %d\r\nX-Padding: pad\r\n\r\n" % len(body)
        for piece in (head[:7], head[7:30], head[30:-3], head[-3:] + body[:100]):
            conn.sendall(piece)
            time.sleep(0.05)
        conn.sendall(body[100:])
    elif path == "/high-bytes":
        conn.sendall(ok + b"X-Name: \xd6\xd0\xce\xc4\r\nLocation: /\xb2\xe2\r\n"
                     b"Content-Length: 6\r\n\r\n\x00\xff\r\n\r\n")
    elif path == "/no-reason":
        conn.sendall(b"HTTP/1.0 200\r\nContent-Length: 2\r\n\r\nok")
    elif path == "/garbage":
        conn.sendall(b"SSH-2.0-nothing\r\n\r\n")
    elif path == "/301-no-location":
        conn.sendall(b"HTTP/1.0 301 Moved\r\nContent-Length: 3\r\n\r\nabc")
    elif path == "/redirect":
        where = unquote(query.get("to", ["/"])[0]).encode("latin-1")
        conn.sendall(b"HTTP/1.0 302 Found\r\nLocation: " + where + b"\r\nContent-Length: 5\r\n\r\nmoved")
    elif path.startswith("/dir/"):
        # Relative redirects resolve against this folder.
        if path == "/dir/start":
            conn.sendall(b"HTTP/1.0 302 Found\r\nLocation: target?x=1\r\n\r\n")
        elif path == "/dir/target":
            conn.sendall(ok + b"Content-Length: 9\r\n\r\nrelative!")
        else:
            conn.sendall(b"HTTP/1.0 404 Not Found\r\n\r\n")
    elif path.startswith("/cut/"):
        body = served(path[5:])
        n = int(query.get("n", ["0"])[0])
        conn.sendall(ok + b"Content-Length: %d\r\n\r\n" % len(body) + body[:n])
    elif path == "/wrong-range":
        conn.sendall(b"HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 5-9/10\r\n"
                     b"Content-Length: 5\r\n\r\n56789")
    elif path == "/range":
        # A 206 with the Content-Range and Content-Length of the query (each
        # left out when not given) and a body of n bytes.
        head = b"HTTP/1.0 206 Partial Content\r\n"
        if "cr" in query:
            head += b"Content-Range: " + query["cr"][0].encode("latin-1") + b"\r\n"
        if "cl" in query:
            head += b"Content-Length: " + query["cl"][0].encode("latin-1") + b"\r\n"
        conn.sendall(head + b"\r\n" + b"r" * int(query.get("n", ["0"])[0]))
    elif path == "/zero-length-open":
        conn.sendall(ok + b"Content-Length: 0\r\n\r\n")
        time.sleep(5)
    elif path == "/resume-ignored":
        conn.sendall(ok + b"Content-Length: 4\r\n\r\nNEW!")
    else:
        conn.sendall(b"HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n")
    try:
        conn.shutdown(socket.SHUT_WR)
        while conn.recv(4096):
            pass
    except OSError:
        pass
    conn.close()


def relay(a, b):
    def pump(src, dst):
        try:
            while True:
                data = src.recv(65536)
                if not data:
                    break
                dst.sendall(data)
        except OSError:
            pass
        for s in (dst,):
            try:
                s.shutdown(socket.SHUT_WR)
            except OSError:
                pass
    t = threading.Thread(target=pump, args=(b, a), daemon=True)
    t.start()
    pump(a, b)
    t.join()
    a.close()
    b.close()


def read_until_nul(conn, data):
    while b"\0" not in data:
        chunk = conn.recv(256)
        if not chunk:
            raise EOFError
        data += chunk
    i = data.index(b"\0")
    return data[:i], data[i + 1:]


def handle_socks4(conn):
    try:
        data = b""
        while len(data) < 8:
            chunk = conn.recv(256)
            if not chunk:
                raise EOFError
            data += chunk
        ver, cmd, port = struct.unpack(">BBH", data[:4])
        addr = data[4:8]
        user, rest = read_until_nul(conn, data[8:])
        host = socket.inet_ntoa(addr)
        if addr[:3] == b"\0\0\0" and addr[3] != 0:
            name, _ = read_until_nul(conn, rest)
            host = name.decode("latin-1")
        if ver != 4 or cmd != 1:
            raise EOFError
        if user == b"close":
            reset(conn)
            return
        if user == b"deny" or host != "127.0.0.1" and host != "localhost":
            conn.sendall(b"\0\x5b" + b"\0" * 6)
            conn.close()
            return
        target = socket.create_connection(("127.0.0.1", port))
        reply = b"\0\x5a" + struct.pack(">H", port) + addr
        if user == b"split":
            conn.sendall(reply[:1])
            time.sleep(0.1)
            conn.sendall(reply[1:5])
            time.sleep(0.1)
            conn.sendall(reply[5:])
        else:
            conn.sendall(reply)
        relay(conn, target)
    except (EOFError, OSError):
        conn.close()


def serve(port, handler):
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", port))
    srv.listen(64)
    while True:
        conn, _ = srv.accept()
        threading.Thread(target=handler, args=(conn,), daemon=True).start()


def main():
    global ROOT
    p = argparse.ArgumentParser()
    p.add_argument("--http", type=int)
    p.add_argument("--socks4", type=int)
    p.add_argument("--root", default=".")
    a = p.parse_args()
    ROOT = a.root
    threads = []
    if a.http:
        threads.append(threading.Thread(target=serve, args=(a.http, handle_http), daemon=True))
    if a.socks4:
        threads.append(threading.Thread(target=serve, args=(a.socks4, handle_socks4), daemon=True))
    for t in threads:
        t.start()
    for t in threads:
        t.join()


if __name__ == "__main__":
    main()
