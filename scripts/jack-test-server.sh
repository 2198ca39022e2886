#!/bin/sh
# Starts and stops a private JACK server with the dummy driver, for the MIDI
# tests and benchmarks: no sound card needed, and a server the user runs is
# never touched.
#
#   jack-test-server.sh start <server-name> <state-dir>
#   jack-test-server.sh stop  <server-name> <state-dir>
#
# <state-dir> keeps the server's process id (jackd.pid) and its log (jackd.log).
set -u

action=${1:-}
name=${2:-}
state=${3:-}
if [ -z "$action" ] || [ -z "$name" ] || [ -z "$state" ]; then
    echo "usage: $0 start|stop <server-name> <state-dir>" >&2
    exit 2
fi
pidfile="$state/jackd.pid"
logfile="$state/jackd.log"
start_timeout=${JACK_TEST_START_TIMEOUT:-15}   # seconds
stop_timeout=${JACK_TEST_STOP_TIMEOUT:-10}     # seconds

alive() {
    [ -n "$1" ] && kill -0 "$1" 2>/dev/null
}

# jack_wait can hang while another server starts or stops on the machine; a
# question that gets no answer in 5 s counts as no answer.
answers() {
    [ "$(timeout 5 jack_wait -s "$name" -c 2>/dev/null)" = "running" ]
}

stop_server() {
    [ -f "$pidfile" ] || return 0
    pid=$(cat "$pidfile" 2>/dev/null)
    if alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null
        waited=0
        while alive "$pid" && [ "$waited" -lt $((stop_timeout * 10)) ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
        if alive "$pid"; then
            kill -KILL "$pid" 2>/dev/null
            sleep 0.2
        fi
    fi
    rm -f "$pidfile"
    if alive "$pid"; then
        echo "JACK server '$name' (process $pid) did not stop" >&2
        return 1
    fi
    return 0
}

case "$action" in
start)
    command -v jackd >/dev/null 2>&1 || { echo "jackd is not installed (package jackd2)" >&2; exit 1; }
    mkdir -p "$state" || exit 1
    # A server left behind by an interrupted run goes first.
    stop_server || exit 1
    if answers; then
        echo "a JACK server named '$name' already runs, not started by this script" >&2
        exit 1
    fi
    # Detached from the caller's session and output, so that the caller (CTest)
    # does not wait on it; stopped by its process id.
    setsid jackd --no-realtime --name "$name" -d dummy -r 48000 -p 256 \
        </dev/null >"$logfile" 2>&1 &
    pid=$!
    echo "$pid" >"$pidfile"
    waited=0
    while ! answers; do
        if ! alive "$pid"; then
            echo "JACK server '$name' exited at start; its log:" >&2
            cat "$logfile" >&2
            rm -f "$pidfile"
            exit 1
        fi
        if [ "$waited" -ge $((start_timeout * 10)) ]; then
            echo "JACK server '$name' did not answer within ${start_timeout}s; its log:" >&2
            cat "$logfile" >&2
            stop_server
            exit 1
        fi
        sleep 0.1
        waited=$((waited + 1))
    done
    echo "JACK server '$name' runs (process $pid)"
    ;;
stop)
    stop_server || exit 1
    echo "JACK server '$name' stopped"
    ;;
*)
    echo "usage: $0 start|stop <server-name> <state-dir>" >&2
    exit 2
    ;;
esac
