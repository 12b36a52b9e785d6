#!/usr/bin/python3
"""The tile cache's benchmark: 4096 tiles (64 x 64) at 20 ms a tile over 4
connections from demo-map-server, made by quiltara-make three ways:

  first      a cold cache: every tile downloaded
  fresh      the same again: every tile fresh in the cache
  stale      the first run against a server whose tiles are stale at once
             (max-age 0), then the second: every tile revalidated (304)

Prints the download phase of each run (start to the first stitch line: the
stitch is the same work whatever the cache did, so the run is stopped there),
the requests the server saw and the bytes it sent (heads included).

Usage: bench/tile-cache-bench.py [BUILD_DIR]   (default: build)
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build"))
server_exe = os.path.join(build, "tools", "demo-map-server", "demo-map-server")
maker = os.path.join(build, "tools", "quiltara-make", "quiltara-make")
TILES, ZOOM, DELAY_MS, JOBS = 64, 7, 20, 4


def start_server(*extra):
    proc = subprocess.Popen([server_exe, "--delay-ms", str(DELAY_MS), "--stop-on-input-end", *extra],
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    port = int(proc.stdout.readline())
    return proc, port


def stats(port):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/stats") as answer:
        return {k: int(v) for k, v in (line.split() for line in answer.read().decode().splitlines())}


def make(port, cache, out):
    os.makedirs(out, exist_ok=True)
    template = (f"http://mt[SRVINDEX].google.localhost:{port}"
                "/vt/v=w2.97&hl=[HL]&x=[X]&y=[Y]&z=[Z]&s=[SERVER]")
    args = [maker, f"--tiles=0,0,{TILES - 1},{TILES - 1}", f"--zoom={ZOOM}", "--layers=map",
            f"--jobs={JOBS}", f"--cache-dir={cache}", f"--template-map={template}",
            "--keep-tiles", os.path.join(out, "bench.png")]
    start = time.monotonic()
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    cached = ""
    for line in proc.stdout:
        if "from the cache" in line:
            cached = line.rsplit(",", 1)[-1].strip(" ]\n")
        if line.startswith("Stitching layer"):
            break
    elapsed = time.monotonic() - start
    proc.send_signal(signal.SIGINT)
    proc.wait()
    return elapsed, cached


def main():
    work = tempfile.mkdtemp(prefix="quiltara-cache-bench-")
    rows = []
    try:
        for name, extra in (("fresh", []), ("stale", ["--max-age", "0"])):
            server, port = start_server(*extra)
            cache = os.path.join(work, name + "-cache")
            before = stats(port)
            first, _ = make(port, cache, os.path.join(work, name + "-1"))
            middle = stats(port)
            second, cached = make(port, cache, os.path.join(work, name + "-2"))
            after = stats(port)
            server.stdin.close()
            server.wait()
            if name == "fresh":
                rows.append(("first", first, before, middle, ""))
            rows.append((name + " second" if name == "stale" else "fresh", second, middle, after,
                         cached))
            if name == "stale":
                rows.append(("(stale first)", first, before, middle, ""))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{TILES * TILES} tiles, {DELAY_MS} ms a tile, {JOBS} connections; "
          f"load {open('/proc/loadavg').read().split()[:3]}")
    print(f"{'run':<16}{'download s':>11}{'requests':>10}{'304':>7}{'body bytes':>12}"
          f"{'bytes sent':>12}  cache (last status line)")
    base = rows[0]
    for label, seconds, b, a, cached in rows:
        sent = a["sent-bytes"] - b["sent-bytes"]
        print(f"{label:<16}{seconds:>11.2f}{a['requests'] - b['requests']:>10}"
              f"{a['not-modified'] - b['not-modified']:>7}{a['bytes'] - b['bytes']:>12}"
              f"{sent:>12}  {cached}")
    first_s, first_sent = base[1], base[3]["sent-bytes"] - base[2]["sent-bytes"]
    for label, seconds, b, a, _ in rows[1:]:
        if label.startswith("("):
            continue
        sent = a["sent-bytes"] - b["sent-bytes"]
        body = a["bytes"] - b["bytes"]
        first_body = base[3]["bytes"] - base[2]["bytes"]
        print(f"{label}: {first_s / seconds:.1f}x the first run's speed, "
              f"{100.0 * body / first_body:.2f} % of its tile bytes, "
              f"{100.0 * sent / first_sent:.2f} % of all it sent (heads included)")


if __name__ == "__main__":
    main()
