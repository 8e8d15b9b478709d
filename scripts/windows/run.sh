#!/usr/bin/env bash
# The Windows builds, checked under Wine, after the Linux build (scripts/build.sh):
#  1. Corvane.dll, the test programs, corvane-render.exe and corvane-hostinfo.exe for x86-64
#     and i686, cross-compiled with mingw-w64 (build-win-x86_64/, build-win-i686/);
#  2. each DLL exports exactly VSTPluginMain, main, MAIN and Main and needs only system DLLs;
#     each build of the tests' stand-in sliced-loop library exports the decoder's functions
#     under their plain names and carries a version resource where it should;
#  3. the test programs pass under Wine (in a Wine prefix of their own in the build folder);
#  4. a host sees the same names, parameters and display texts through the DLL as through
#     Corvane.so, and the program and bank saved after loading the demo program are
#     byte-identical;
#  5. the demo rendered by corvane-render.exe matches the Linux render (same length, onsets
#     aligned, residual at least 90 dB down), and both report their realtime factors.
# 32-bit Windows programs need a kernel that runs 32-bit Linux programs (Wine's 32-bit
# loader); where it cannot, the i686 DLL, tools and test programs are still built and the
# exports checked, and the i686 runs are reported as skipped.
# usage: scripts/windows/run.sh   (BUILD_DIR: the Linux build, default build/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
linux=${BUILD_DIR:-$root/build}
started=$SECONDS

for tool in corvane-render corvane-hostinfo Corvane.so demo/demo.sfz demo/voices40.mid; do
  if [ ! -e "$linux/$tool" ]; then
    echo "windows: $linux/$tool is missing; build first (scripts/build.sh)" >&2
    exit 1
  fi
done

"$root/scripts/install-deps.sh" --no-recommends g++-mingw-w64-x86-64-posix \
  g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine64 \
  googletest python3

work=$(mktemp -d /tmp/corvane-windows.XXXXXX)
[ -n "${WINDOWS_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT

# Can this kernel run a 32-bit program? A 93-byte ELF that only calls exit(0) tells.
python3 - "$work/probe32" <<'PY'
import struct, sys
code = bytes([0xB8, 1, 0, 0, 0, 0x31, 0xDB, 0xCD, 0x80])  # exit(0) through int 0x80
base = 0x08048000
ehdr = struct.pack("<4s5B7sHHIIIIIHHHHHH", b"\x7fELF", 1, 1, 1, 0, 0, b"\0" * 7, 2, 3, 1,
                   base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
phdr = struct.pack("<8I", 1, 0, base, base, 84 + len(code), 84 + len(code), 5, 0x1000)
open(sys.argv[1], "wb").write(ehdr + phdr + code)
PY
chmod +x "$work/probe32"
run32=no
if "$work/probe32" 2>/dev/null; then
  "$root/scripts/install-deps.sh" --no-recommends wine32:i386
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1 && run32=yes
fi

# Wine: no display (no window may open), no Mono or Gecko downloads, quiet.
unset DISPLAY WAYLAND_DISPLAY
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
command -v ccache >/dev/null && generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

failed=0
report=()
fail() {
  echo "FAIL  $*"
  failed=$((failed + 1))
}
pass() { echo "PASS  $*"; }

demo=$linux/demo
render_args() {  # render_args PREFIX: the demo song, with paths as the program sees them
  local p=$1
  echo --program "$p$demo/demo.fxp" --instrument "$p$demo/demo.sfz" --midi "$p$demo/demo.mid"
}
voices_args() {
  local p=$1 program=()
  [ -s "$demo/sustain.fxp" ] && program=(--program "$p$demo/sustain.fxp")
  echo "${program[@]}" --instrument "$p$demo/sustain.sfz" --midi "$p$demo/voices40.mid" \
    --block 512 --tail 0
}
factor() { sed -n 's/.*(\([0-9.]*\)x realtime).*/\1/p'; }

# Linux reference: host view, saved state, render and speed.
{
  "$linux/corvane-hostinfo" "$linux/Corvane.so" | sed 1d
  "$linux/corvane-render" --program "$demo/demo.fxp" --list-params
} >"$work/linux.info"
"$linux/corvane-render" --program "$demo/demo.fxp" --save-program "$work/linux.fxp" \
  --save-bank "$work/linux.fxb" >/dev/null
# shellcheck disable=SC2046
linux_demo=$("$linux/corvane-render" $(render_args "") --out "$work/linux.wav" | factor)
# shellcheck disable=SC2046
linux_voices=$("$linux/corvane-render" $(voices_args "") --out "$work/linux40.wav" | factor)

export_names() {  # the export table's names in `objdump -p` output on stdin, sorted
  awk '/\[Ordinal\/Name Pointer\] Table/ {t = 1; next} t && NF == 0 {exit}
       t {print $NF}' | LC_ALL=C sort | tr '\n' ' '
}

# The stand-in sliced-loop library: the decoder's fourteen functions under their plain
# names (a 32-bit build must not decorate them), none missing but where the build leaves
# one out, no version function (the version is in the resource), and a version resource in
# every build but the one without a version.
check_standins() {  # check_standins ARCH BUILD-DIR
  local arch=$1 dir=$2 all="Close Open REXCreate REXDelete REXGetCreatorInfo REXGetInfo
    REXGetInfoFromBuffer REXGetSliceInfo REXRenderPreviewBatch REXRenderSlice
    REXSetOutputSampleRate REXSetPreviewTempo REXStartPreview REXStopPreview"
  local variant file dump want got rsrc bad=""
  for variant in plain old new later noversion incomplete closed needsdep; do
    file=$dir/tests/rexlib/librexstub_$variant.dll
    [ "$variant" = needsdep ] && file="$dir/tests/rexlib/needsdep/REX Shared Library.dll"
    if [ ! -f "$file" ]; then bad="$bad $variant(missing)"; continue; fi
    want=$(tr -s ' \n' '\n' <<<"$all" | grep -v '^$' | LC_ALL=C sort | tr '\n' ' ')
    [ "$variant" = incomplete ] && want=${want/REXSetPreviewTempo /}
    dump=$("$arch-w64-mingw32-objdump" -p -h "$file")
    got=$(export_names <<<"$dump")
    [ "$got" = "$want" ] || bad="$bad $variant(exports: $got)"
    rsrc=no
    grep -q ' \.rsrc ' <<<"$dump" && rsrc=yes
    if [ "$variant" = noversion ]; then [ "$rsrc" = no ] || bad="$bad $variant(resource)"
    else [ "$rsrc" = yes ] || bad="$bad $variant(no resource)"; fi
  done
  if [ -z "$bad" ]; then
    pass "$arch: the stand-in sliced-loop library's 8 builds export the 14 functions" \
         "by plain name and carry their version resources"
  else
    fail "$arch: stand-in sliced-loop library:$bad"
  fi
}

check_arch() {  # check_arch ARCH LOADER RUNS(yes/no)
  local arch=$1 loader=$2 runs=$3
  local dir=$root/build-win-$arch
  local t0=$SECONDS
  echo "== Windows $arch"
  cmake -S "$root" -B "$dir" ${generator[@]+"${generator[@]}"} -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake" -DCORVANE_BENCH=OFF \
    >"$work/cmake-$arch.log" 2>&1 || { cat "$work/cmake-$arch.log"; fail "$arch: configure"; return; }
  if ! cmake --build "$dir" -j"$(nproc)" >"$work/build-$arch.log" 2>&1; then
    tail -n 40 "$work/build-$arch.log"
    fail "$arch: build"
    return
  fi
  echo "      built in $((SECONDS - t0)) s"

  local dump names imports bad=""
  dump=$("$arch-w64-mingw32-objdump" -p "$dir/Corvane.dll")
  names=$(export_names <<<"$dump")
  if [ "$names" = "MAIN Main VSTPluginMain main " ]; then
    pass "$arch: Corvane.dll exports exactly: $names"
  else
    fail "$arch: Corvane.dll exports '$names'"
  fi
  imports=$(sed -n 's/.*DLL Name: //p' <<<"$dump" | tr '\n' ' ')
  for d in $imports; do
    case "${d,,}" in
      kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | shell32.dll | version.dll) ;;
      *) bad="$bad $d" ;;
    esac
  done
  if [ -z "$bad" ]; then pass "$arch: Corvane.dll needs only system DLLs: $imports"; else
    fail "$arch: Corvane.dll needs$bad"; fi
  check_standins "$arch" "$dir"
  local missing=""
  for t in content shell engine fx platform integration; do
    [ -f "$dir/tests/test_$t.exe" ] || missing="$missing test_$t.exe"
  done
  if [ -z "$missing" ]; then pass "$arch: test programs built"; else
    fail "$arch: test programs missing:$missing"; fi

  if [ "$runs" != yes ]; then
    echo "SKIP  $arch: this kernel cannot run 32-bit programs, so Wine cannot run the $arch" \
         "programs here (built and checked statically only)"
    report+=("$arch: built, exports checked; not run (no 32-bit execution on this machine)")
    return
  fi

  export WINEPREFIX=$dir/wineprefix
  local total=0 n t
  for t in "$dir"/tests/test_*.exe; do
    if "$loader" "$t" --gtest_brief=1 >"$work/$arch-$(basename "$t").log" 2>&1; then
      n=$(sed -n 's/.*\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$work/$arch-$(basename "$t").log")
      total=$((total + ${n:-0}))
    else
      tail -n 30 "$work/$arch-$(basename "$t").log" | tr -d '\r'
      fail "$arch: $(basename "$t") under Wine"
    fi
  done
  pass "$arch: $total tests passed under Wine"

  local w="Z:"
  {
    "$loader" "$dir/corvane-hostinfo.exe" "$w$dir/Corvane.dll" | tr -d '\r' | sed 1d
    "$loader" "$dir/corvane-render.exe" --program "$w$demo/demo.fxp" --list-params | tr -d '\r'
  } >"$work/$arch.info"
  if diff -u "$work/linux.info" "$work/$arch.info" >"$work/$arch.info.diff"; then
    pass "$arch: names, IDs, pins, programs, parameters and display texts (init and demo" \
         "program) as on Linux"
  else
    head -n 30 "$work/$arch.info.diff"
    fail "$arch: the host sees something else than on Linux"
  fi
  "$loader" "$dir/corvane-render.exe" --program "$w$demo/demo.fxp" \
    --save-program "$w$work/$arch.fxp" --save-bank "$w$work/$arch.fxb" >/dev/null
  if cmp -s "$work/linux.fxp" "$work/$arch.fxp" && cmp -s "$work/linux.fxb" "$work/$arch.fxb"
  then
    pass "$arch: program ($(stat -c %s "$work/$arch.fxp") bytes) and bank ($(stat -c %s \
      "$work/$arch.fxb") bytes) byte-identical to Linux"
  else
    fail "$arch: the saved program or bank differs from Linux"
  fi

  local demo_factor voices_factor
  # shellcheck disable=SC2046
  demo_factor=$("$loader" "$dir/corvane-render.exe" $(render_args "$w") \
    --out "$w$work/$arch.wav" | tr -d '\r' | factor)
  if python3 "$here/compare_renders.py" "$work/linux.wav" "$work/$arch.wav" \
      >"$work/$arch.compare" 2>&1; then
    pass "$arch: demo render matches Linux: $(grep residual "$work/$arch.compare")"
  else
    cat "$work/$arch.compare"
    fail "$arch: demo render differs from Linux"
  fi
  # shellcheck disable=SC2046
  voices_factor=$("$loader" "$dir/corvane-render.exe" $(voices_args "$w") \
    --out "$w$work/${arch}40.wav" | tr -d '\r' | factor)
  report+=("$arch: $total tests; realtime factor demo ${demo_factor}x (Linux ${linux_demo}x), 40 voices ${voices_factor}x (Linux ${linux_voices}x)")
  echo "      done in $((SECONDS - t0)) s"
}

check_arch x86_64 /usr/lib/wine/wine64 yes
check_arch i686 /usr/lib/wine/wine "$run32"

echo "== Windows summary ($((SECONDS - started)) s)"
for line in "${report[@]}"; do echo "      $line"; done
if [ "$failed" -gt 0 ]; then
  echo "windows: $failed check(s) failed"
  exit 1
fi
echo "windows: all checks passed"
