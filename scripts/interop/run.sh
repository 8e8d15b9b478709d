#!/usr/bin/env bash
# Interoperability checks, run by the test command after the build:
#  1. our host side (the test host library and corvane-render --plugin) against third-party
#     VST 2.4 plug-ins from Debian: they load and make sound;
#  2. Corvane in a real host: Ardour, headless (its Lua session tool on the dummy backend),
#     plays a MIDI region through Corvane and exports it; the export must hold sound and match
#     corvane-render of the same notes with the same program;
#  3. Ardour's GUI, in a private Xvfb, loads that session with Corvane's window marked open and
#     shows Corvane's own editor in it; a picture of the window must show the editor drawn.
# Installs the packages in packages.txt when missing. Skips (exit 0) only when they cannot be
# installed. Everything else that goes wrong fails the run.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${BUILD_DIR:-$root/build}

for tool in corvane-render corvane-hostinfo Corvane.so demo/demo.sfz; do
  if [ ! -e "$build/$tool" ]; then
    echo "interop: $build/$tool is missing; build first (scripts/build.sh)" >&2
    exit 1
  fi
done

# ---- packages ----
mapfile -t packages < <(grep -v '^#' "$here/packages.txt" | tr -s ' \t' '\n' | grep -v '^$')
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "interop: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  if ! { $SUDO apt-get update -qq &&
         DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
           "${missing[@]}"; } >/tmp/corvane-interop-apt.log 2>&1; then
    echo "interop: SKIPPED: cannot install ${missing[*]} (see /tmp/corvane-interop-apt.log)"
    exit 0
  fi
fi

work=$(mktemp -d /tmp/corvane-interop.XXXXXX)
[ -n "${INTEROP_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
# Hosts and plug-ins keep their settings and caches here, never in the user's home.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME"

passed=0
failed=0
check() {  # check NAME COMMAND...: runs the command, keeps its output for a failure
  local name=$1
  shift
  if "$@" >"$work/log" 2>&1; then
    passed=$((passed + 1))
    echo "PASS  $name"
  else
    failed=$((failed + 1))
    echo "FAIL  $name"
    sed 's/^/      /' "$work/log" | tail -n 25
  fi
}

# A render must say it rendered, with a finite peak.
render_has_sound() {
  local out
  out=$("$build/corvane-render" "$@") || return 1
  echo "$out"
  grep -q '^rendered .* peak -\?[0-9]' <<<"$out" || { echo "the render is silent"; return 1; }
}

notes=$work/notes.mid
quarters=$(python3 "$here/make_notes.py" "$notes") || { echo "interop: cannot write the song"; exit 1; }

# ---- 1. third-party plug-ins in our host ----
for plugin in /usr/lib/vst/amsynth_vst.so /usr/lib/vst/Kars-vst.so; do
  name=$(basename "$plugin" .so)
  check "test host loads $name" "$build/corvane-hostinfo" "$plugin"
  check "corvane-render plays $name" render_has_sound --plugin "$plugin" --midi "$notes" \
    --out "$work/$name.wav" --tail 0.5
done

# ---- 2. Corvane in Ardour ----
rate=48000
frames=$(python3 -c "print(int(($quarters * 0.5 + 1.5) * $rate))")  # 120 BPM, 1.5 s tail
program=()
[ -s "$build/demo/demo.fxp" ] && program=(--program "$build/demo/demo.fxp")

ardour_run() {
  local session=$work/session
  export INTEROP_SESSION_DIR=$session INTEROP_SESSION_NAME=interop INTEROP_PLUGIN=Corvane \
         INTEROP_RATE=$rate
  # The instrument state Ardour restores: the demo program and instrument as a bank chunk.
  "$build/corvane-render" "${program[@]}" --instrument "$build/demo/demo.sfz" \
    --save-bank "$work/corvane.fxb" || return 1
  # Ardour's tools never scan: scan Corvane.so into the private cache, and name its folder
  # in the private configuration.
  mkdir -p "$work/vst" "$XDG_CONFIG_HOME/ardour7"
  cp "$build/Corvane.so" "$work/vst/Corvane.so"
  # Ardour trusts a cache entry only when it is newer than the plug-in; the scanner dates its
  # entry to the plug-in's time when that is now, so make the copy a little older.
  touch -d '-1 minute' "$work/vst/Corvane.so"
  cat >"$XDG_CONFIG_HOME/ardour7/config" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="plugin-path-lxvst" value="$work/vst"/>
    <Option name="use-lxvst" value="1"/>
  </Config>
</Ardour>
EOF
  LD_LIBRARY_PATH=/usr/lib/ardour7 ARDOUR_DATA_PATH=/usr/share/ardour7 \
    ARDOUR_CONFIG_PATH=/etc/ardour7 /usr/lib/ardour7/ardour-vst-scanner -f "$work/vst/Corvane.so" ||
    return 1
  timeout 120 ardour7-lua "$here/ardour_create.lua" || return 1
  python3 "$here/session_edit.py" "$session/interop.ardour" "$notes" "$quarters" "$frames" \
    "$work/corvane.fxb" || return 1
  timeout 120 ardour7-lua "$here/ardour_check.lua" || return 1
  # ardour7-export sometimes crashes with third-party plug-ins: one retry.
  local try
  for try in 1 2; do
    rm -f "$work/ardour.wav"
    timeout 300 ardour7-export -b float -s "$rate" -o "$work/ardour.wav" "$session" interop &&
      [ -s "$work/ardour.wav" ] && break
    echo "ardour7-export failed (try $try)"
    [ "$try" = 2 ] && return 1
  done
  "$build/corvane-render" --bank "$work/corvane.fxb" --select 0 --midi "$notes" --tempo 120 \
    --rate "$rate" --block 1024 --tail 1.5 --out "$work/reference.wav" || return 1
  python3 "$here/compare.py" "$work/ardour.wav" "$work/reference.wav"
}
check "Ardour plays Corvane and its export matches corvane-render" ardour_run
grep -E '^(host export|reference|first onsets|window levels)' "$work/log" | sed 's/^/      /'

# ---- 3. Corvane's editor in Ardour's plug-in window ----
# Ardour reopens the plug-in windows a session was saved with: the session of check 2 gets
# Corvane's window marked open and is loaded by the GUI on the dummy backend.
ardour_editor() {
  [ -s "$work/session/interop.ardour" ] || { echo "no session: the check above failed"; return 1; }
  local gui=$work/gui-session
  rm -rf "$gui"
  cp -r "$work/session" "$gui"
  python3 "$here/session_show_editor.py" "$gui/interop.ardour" synth Corvane || return 1
  # No welcome wizard (Ardour 7 has run here before) and no audio setup dialog: the dummy
  # backend, listed and started at once.
  touch "$XDG_CONFIG_HOME/ardour7/.a7"
  cat >"$XDG_CONFIG_HOME/ardour7/config" <<CONFIG
<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="plugin-path-lxvst" value="$work/vst"/>
    <Option name="use-lxvst" value="1"/>
    <Option name="hide-dummy-backend" value="0"/>
    <Option name="try-autostart-engine" value="1"/>
  </Config>
  <Extra>
    <AudioMIDISetup>
      <EngineStates>
        <State backend="None (Dummy)" driver="Normal Speed" device="Silence" input-device=""
               output-device="" sample-rate="$rate" buffer-size="1024" n-periods="2"
               input-latency="0" output-latency="0" input-channels="0" output-channels="0"
               active="1" use-buffered-io="0" midi-option="" lru="1"/>
      </EngineStates>
    </AudioMIDISetup>
  </Extra>
</Ardour>
CONFIG
  # A private X server on a free display.
  : >"$work/display"
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
  local xvfb=$! waited
  for waited in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  if [ ! -s "$work/display" ]; then
    kill "$xvfb" 2>/dev/null
    echo "Xvfb did not start"
    return 1
  fi
  local display=":$(head -n 1 "$work/display")"
  DISPLAY=$display ardour --no-splash "$gui/interop.ardour" >"$work/ardour-gui.log" 2>&1 &
  local ardour=$! status=0
  DISPLAY=$display python3 "$here/editor_window.py" "Corvane" 120 \
    "$build/interop-ardour-editor.png" || status=1
  kill "$ardour" 2>/dev/null
  for waited in $(seq 100); do kill -0 "$ardour" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$ardour" 2>/dev/null
  wait "$ardour" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  [ "$status" -eq 0 ] || tail -n 15 "$work/ardour-gui.log"
  return "$status"
}
check "Ardour's plug-in window shows Corvane's editor" ardour_editor
grep -E '^window ' "$work/log" | sed 's/^/      /'

echo "interop: $passed checks passed, $failed failed"
[ "$failed" -eq 0 ]
