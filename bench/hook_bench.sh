#!/usr/bin/env bash
# Times whole processes in one hyperfine run: `mossbank -v` next to `true`,
# and `mossbank hook` for a plain event against a loopback server that
# answers at once next to curl sending the same request. The goals: -v within
# 1.5 times `true`, a hook within 0.25 times curl.
#   bench/hook_bench.sh [path/to/mossbank] [runs]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/mossbank}
runs=${2:-200}
command -v hyperfine >/dev/null || { echo "hyperfine is needed (apt-get install hyperfine)"; exit 1; }

work=$(mktemp -d)
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
python3 "$here/hook_bench_server.py" > "$work/port" &
server=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
mkdir -p "$work/home"
printf '{\n  "port": %s,\n  "token": "%s",\n  "hookToken": "%s"\n}\n' \
  "$port" 0123456789abcdef0123 fedcba9876543210fedc > "$work/home/config.json"
export MOSSBANK_HOME="$work/home"

payload='{"hook_event_name":"Stop","session_id":"abc"}'
hyperfine -N --warmup 20 --runs "$runs" --export-json "$work/times.json" \
  -n "true" "true" \
  -n "mossbank -v" "$bin -v" \
  -n "mossbank hook" "$bin hook --agent claude --event Stop $payload" \
  -n "curl" "curl -s -X POST -H content-type:application/json -H x-mossbank-token:fedcba9876543210fedc --data $payload http://127.0.0.1:$port/api/hook?agent=claude&event=Stop"
python3 - "$work/times.json" <<'PY'
import json, sys
t = {r["command"]: r["mean"] for r in json.load(open(sys.argv[1]))["results"]}
print("mossbank -v / true:   %.2f" % (t["mossbank -v"] / t["true"]))
print("mossbank hook / curl: %.2f" % (t["mossbank hook"] / t["curl"]))
PY
