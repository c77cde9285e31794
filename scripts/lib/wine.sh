# Shared by the scripts that run Windows programs: a Wine prefix under the
# build folder, a virtual screen, and an environment in which a crashing
# program exits at once instead of waiting in the debugger.
#
#   source scripts/lib/wine.sh; wine_env BUILD_DIR; wine_prefix; start_display

wine_env() {
  export WINEPREFIX="$1/wineprefix"
  export WINEDEBUG=-all
  export WINEARCH=win32
  export LANG=C.UTF-8
  export WINEDLLOVERRIDES="mscoree=;mshtml=;winedbg.exe=d"
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
  # Wine's helper processes must not inherit a test runner's pipes, nor keep
  # an earlier display: restart them now, with output going nowhere, and
  # keep the server up.
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
