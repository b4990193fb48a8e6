# Sourced by the CI stages that run atsms against simulated modems: a scratch directory $work,
# removed at exit with every simulator still running, and start_sim/stop_sim. Needs fail().
work=$(mktemp -d)
sims=()
cleanup() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# start_sim NAME SIMULATOR [OPTION...]: starts a simulated modem logging to $work/NAME.log, sets
# $port to its pty.
start_sim() {
  local name=$1 sim=$2
  shift 2
  "$sim" --log "$work/$name.log" "$@" >"$work/$name.port" </dev/null &
  sims+=($!)
  for _ in $(seq 100); do [ -s "$work/$name.port" ] && break; sleep 0.05; done
  port=$(head -n 1 "$work/$name.port")
  [ -c "$port" ] || fail "$name: the simulated modem gave no terminal"
}
# stop_sim: stops the simulated modem started last.
stop_sim() {
  kill "${sims[-1]}" 2>/dev/null || true
  wait "${sims[-1]}" 2>/dev/null || true
}
