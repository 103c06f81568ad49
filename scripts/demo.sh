#!/usr/bin/env bash
# Serves the demo: tavolen-host and its demo page, viewing the substitute
# camera (live H.264 with sound, an SD card of a few short recordings, an
# alarm now and then, the LAN search answer) or a camera given by its account.
# scripts/run.sh builds first and then runs this.
#
#   demo.sh [--seconds N] [ADDRESS[:PORT] USER [PASSWORD]]
#
# The programs: TAVOLEN_HOST and TAVOLEN_CAMSIM, or those of build/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
host_program="${TAVOLEN_HOST:-$root/build/tools/host/tavolen-host}"
camsim_program="${TAVOLEN_CAMSIM:-$root/build/tools/camsim/tavolen-camsim}"

usage() {
  echo "usage: $0 [--seconds N] [ADDRESS[:PORT] USER [PASSWORD]]" >&2
  exit 2
}

seconds=0
camera=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds)
      [ $# -ge 2 ] && [[ "$2" =~ ^[0-9]+$ ]] || usage
      seconds="$2"
      shift 2
      ;;
    -h|--help) usage ;;
    -*) echo "demo: unknown option $1" >&2; usage ;;
    *) camera+=("$1"); shift ;;
  esac
done
if [ ${#camera[@]} -eq 1 ] || [ ${#camera[@]} -gt 3 ]; then usage; fi

work="$(mktemp -d "${TMPDIR:-/tmp}/tavolen-demo.XXXXXX")"
pids=()
cleanup() {
  trap - EXIT INT TERM
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# Waits for a program's "listening on" line in its log and prints the port.
port_from_log() {
  local log="$1" pattern="$2" pid="$3"
  for _ in $(seq 1 300); do
    local port
    port="$(grep -m1 -oE "$pattern" "$log" | grep -oE '[0-9]+$' || true)"
    if [ -n "$port" ]; then echo "$port"; return 0; fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "demo: $(basename "$log" .log) did not start:" >&2
  cat "$log" >&2
  return 1
}

url_encode() {
  local text="$1" out="" c i
  for ((i = 0; i < ${#text}; i++)); do
    c="${text:i:1}"
    case "$c" in
      [a-zA-Z0-9.~_-]) out+="$c" ;;
      *) out+="$(printf '%%%02X' "'$c")" ;;
    esac
  done
  printf '%s' "$out"
}

if [ ${#camera[@]} -eq 0 ]; then
  # The substitute camera. Its motion alarm comes every 40 s; the control
  # shows it for 30 s and then reports its end.
  "$camsim_program" --port 0 --record-folder "$work/sd" --make-recordings 3 \
    --status-every 32:40000 --search --search-bind 127.0.0.1 >"$work/camsim.log" &
  pids+=($!)
  cam_port="$(port_from_log "$work/camsim.log" 'listening on 127\.0\.0\.1:[0-9]+' "$!")"
  cam_host=127.0.0.1 cam_user=admin cam_pwd=""
  # It answers the LAN search on loopback only, so the search is sent there
  # rather than broadcast to the network.
  export TAVOLEN_SEARCH_ADDRESS=127.0.0.1:8600
else
  cam_host="${camera[0]%%:*}"
  cam_port=80
  [[ "${camera[0]}" == *:* ]] && cam_port="${camera[0]##*:}"
  cam_user="${camera[1]}"
  cam_pwd="${camera[2]:-}"
fi

"$host_program" --port 0 >"$work/host.log" &
pids+=($!)
host_port="$(port_from_log "$work/host.log" 'listening on http://127\.0\.0\.1:[0-9]+' "$!")"

page="http://127.0.0.1:$host_port/?ip=$(url_encode "$cam_host")&port=$cam_port&user=$(url_encode "$cam_user")&pwd=$(url_encode "$cam_pwd")&play=1"
echo "The demo page: $page"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xdg-open >/dev/null 2>&1; then
  xdg-open "$page" >/dev/null 2>&1 || echo "demo: xdg-open failed; open the address above in a browser" >&2
else
  echo "No display here: open that address in a browser on this machine. From another machine, forward"
  echo "the port first (ssh -L $host_port:127.0.0.1:$host_port THIS-MACHINE) and open the same address there:"
  echo "the host answers on 127.0.0.1 only."
fi
if [ "$seconds" -gt 0 ]; then
  echo "Serving for $seconds s."
  sleep "$seconds" &
else
  echo "Serving until interrupted (Ctrl+C)."
  sleep infinity &
fi
pids+=($!)
wait "${pids[-1]}"
