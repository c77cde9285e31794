# Shared by the scripts that run Windows programs: which build this machine
# runs, a Wine prefix under the build folder, a virtual screen, and an
# environment in which a crashing program exits at once instead of waiting in
# the debugger.
#
#   source scripts/lib/wine.sh; wine_env BUILD_DIR [TARGET]; wine_prefix; start_display

# The Windows target this machine runs: i686 where the kernel runs 32-bit
# programs, x86_64 where it cannot (IA-32 emulation off: every i386 program,
# Wine's 32-bit loader included, fails with "Exec format error"). The probe is
# a 95-byte i386 program that exits with 42 through the 32-bit system call
# gate, so it needs no i386 package. STUB_RUN_32BIT=no makes it answer no, so
# the x86-64 path can be run on a machine that has both.
windows_run_target() {
  if [ "${STUB_RUN_32BIT:-}" = no ]; then echo x86_64; return; fi
  local probe code
  probe=$(mktemp "${TMPDIR:-/tmp}/probe32.XXXXXX")
  printf '\177\105\114\106\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\137\000\000\000\137\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\061\333\263\052\315\200' >"$probe"
  chmod +x "$probe"
  "$probe" >/dev/null 2>&1 </dev/null
  code=$?
  rm -f "$probe"
  if [ "$code" = 42 ]; then echo i686; else echo x86_64; fi
}

# One line that says which build the Windows programs are, and why.
windows_run_line() {  # TARGET
  if [ "$1" = i686 ]; then
    echo "windows: i686 build, the 32-bit product (this machine runs 32-bit programs)"
  elif [ "${STUB_RUN_32BIT:-}" = no ]; then
    echo "windows: x86-64 build (STUB_RUN_32BIT=no: run as on a machine that cannot run 32-bit programs)"
  else
    echo "windows: x86-64 build (this machine cannot run 32-bit programs)"
  fi
}

# The environment for one target's programs: i686 in a 32-bit prefix
# (BUILD_DIR/wineprefix) with the programs of BUILD_DIR/windows; x86_64 in a
# 64-bit prefix (BUILD_DIR/wineprefix64) with those of BUILD_DIR/windows-x86_64,
# through Wine's 64-bit loader. The `wine` wrapper picks the 32-bit loader
# whenever it is installed, so for x86_64 a folder of wrappers that start the
# 64-bit one goes first on PATH, for every caller (scripts, ctest, Python).
# STUB_WIN_BIN names the programs' folder.
wine_env() {  # BUILD_DIR [TARGET]
  local build=$1 target=${2:-i686}
  export STUB_PATH_BEFORE_WINE=${STUB_PATH_BEFORE_WINE:-$PATH}
  export WINEDEBUG=-all
  export LANG=C.UTF-8
  export WINEDLLOVERRIDES="mscoree=;mshtml=;winedbg.exe=d"
  if [ "$target" = x86_64 ]; then
    local wrappers="$build/wine64-bin"
    mkdir -p "$wrappers"
    for name in wine wine-stable; do
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$wrappers/$name"
    done
    printf '#!/bin/sh\nexec /usr/lib/wine/wineserver64 "$@"\n' >"$wrappers/wineserver"
    chmod +x "$wrappers"/*
    export PATH="$wrappers:$STUB_PATH_BEFORE_WINE"
    export WINEPREFIX="$build/wineprefix64" WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    export STUB_WIN_BIN="$build/windows-x86_64/bin"
  else
    export PATH=$STUB_PATH_BEFORE_WINE
    unset WINELOADER
    export WINEPREFIX="$build/wineprefix" WINEARCH=win32
    export STUB_WIN_BIN="$build/windows/bin"
  fi
}

# Creates the prefix once (about 15 s), with the fonts the program's Chinese
# face names need.
wine_prefix() {
  local stamp="$WINEPREFIX/.stub-ready"
  [ -f "$stamp" ] && return 0
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
  local subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  for face in 微软雅黑 "Microsoft YaHei" 幼圆 YouYuan SimSun 宋体; do
    wine reg add "$subst" /v "$face" /d 'WenQuanYi Micro Hei' /f >/dev/null 2>&1 </dev/null
  done
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
    /v Tahoma /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1 </dev/null
  cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  ln -sf /usr/share/fonts/truetype/wqy/wqy-microhei.ttc "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  wineserver -w
  touch "$stamp"
}

# Starts Xvfb on a free display (the first free from N, default 90) and a
# persistent wineserver; both end with the calling script (stop_display).
start_display() {
  local n=${1:-90}
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  STUB_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  # A compositor, so layered windows blend as on a real desktop.
  xcompmgr >/dev/null 2>&1 </dev/null &
  STUB_XCOMPMGR_PID=$!
  wine_warm
}

# Wine's helper processes must not inherit a test runner's pipes, nor keep an
# earlier display: restart them for the prefix in force, with output going
# nowhere, and keep the server up.
wine_warm() {
  wineserver -k >/dev/null 2>&1 </dev/null || true
  wineserver -w >/dev/null 2>&1 </dev/null || true
  wineserver -p >/dev/null 2>&1 </dev/null || true
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

stop_display() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${STUB_XCOMPMGR_PID:-}" ] && kill "$STUB_XCOMPMGR_PID" 2>/dev/null || true
  [ -n "${STUB_XVFB_PID:-}" ] && kill "$STUB_XVFB_PID" 2>/dev/null || true
  STUB_XVFB_PID=
  STUB_XCOMPMGR_PID=
}
