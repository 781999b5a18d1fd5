#!/usr/bin/env bash
# Times whole `mossbank hook` processes for a plain event against a loopback
# server that answers at once, next to curl sending the same request.
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
hyperfine -N --warmup 20 --runs "$runs" \
  -n "mossbank hook" "$bin hook --agent claude --event Stop $payload" \
  -n "curl" "curl -s -X POST -H content-type:application/json -H x-mossbank-token:fedcba9876543210fedc --data $payload http://127.0.0.1:$port/api/hook?agent=claude&event=Stop"
