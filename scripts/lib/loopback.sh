# shellcheck shell=bash
# Helpers for the scripts that serve a demo release on 127.0.0.1. Source this file after setting
# `me`, the name that failures are reported under.

fail() {
    echo "${me:?}: $*" >&2
    exit 1
}

# True when something accepts connections on 127.0.0.1:<port>.
port_answers() {
    python3 -c 'import socket, sys
socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=0.2).close()' "$1" 2>/dev/null
}

# require_free_port <port> <hint>: a server already there would answer in place of ours and the
# run would mean nothing.
require_free_port() {
    ! port_answers "$1" || fail "something already listens on 127.0.0.1:$1 ($2)"
}

# wait_for_host <pid> <port>: returns once the server <pid> accepts connections on <port>; fails
# when it ends first or takes over ten seconds.
wait_for_host() {
    for _ in $(seq 100); do
        port_answers "$2" && return 0
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    fail "the release host did not start on 127.0.0.1:$2"
}
