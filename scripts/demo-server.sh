# Sourced by the demo scripts: start_demo_server SERVER starts demo-map-server
# on a free port of 127.0.0.1, sets $port once it listens, and stops the
# server again however the calling script ends.
demo_log=
demo_pid=
stop_demo_server() {
    if [ -n "$demo_pid" ]; then
        kill "$demo_pid" 2>/dev/null || true
        wait "$demo_pid" 2>/dev/null || true
        demo_pid=
    fi
    [ -z "$demo_log" ] || rm -f "$demo_log"
}

start_demo_server() {
    demo_log=$(mktemp /tmp/quiltara-demo-server.XXXXXX)
    trap stop_demo_server EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    "$1" --port 0 >"$demo_log" 2>&1 &
    demo_pid=$!
    # The server prints its port on its first line once it listens.
    port=
    for _ in $(seq 1 100); do
        port=$(head -1 "$demo_log" 2>/dev/null | grep -oE '^[0-9]+$' || true)
        [ -n "$port" ] && break
        kill -0 "$demo_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        echo "demo-map-server did not start:" >&2
        cat "$demo_log" >&2
        exit 1
    fi
}
