"""The download flow: reuse, names, folders, failures, retry, browser button,
window behaviour during a transfer."""
import os
import re
import time

from harness import (APP_DIR, BASE, FALLBACK_NAME, FALLBACK_PATH, Failure, Server, check,
                     check_eq, sample_reply, wait_exit)

WINDOW = "Korvel安装"          # the download window's caption (the reply's NameTitle)
APP_TITLE = "Korvel"           # the hidden application window (built-in title 2)
CLOSE_ZONE = ("585", "15")     # centre of the close zone, client pixels at 96 DPI
BUTTON = (472, 311)            # a pixel inside the browser button, client pixels
WRONG_MD5 = "0" * 32
SEC = r"-?\d+(\.\d\d?)?"
URL = r"127\.0\.0\.1:18471/rmgb/4\.2\.2/wlpq1\(wlpqhd\)\.exe"


def put(env, windows_path, data=b""):
    path = env.path(windows_path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def sample_bytes(env, error=False):
    with open(env.sample_error if error else env.sample, "rb") as f:
        return f.read()


def wait_for(server, predicate, timeout, what):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        data = server.data()
        if predicate(data):
            return data
        time.sleep(0.2)
    raise Failure(f"timed out waiting for {what}; reports so far: {server.data()!r}")


def failed_state(server, timeout=60, done=None):
    done = done or (lambda d: sum(x.startswith("DownFinish=Not:") for x in d) >= 2)
    data = wait_for(server, done, timeout, "the second failed download")
    time.sleep(2.5)  # the one-second wait, then the error text and the button
    return data


def window_rect(env, title=WINDOW):
    code, out = env.helper("info", title)
    check_eq(code, 0, f"window {title!r} exists")
    visible, topmost, left, top, right, bottom = (int(v) for v in out.split())
    return visible, topmost, (left, top, right, bottom)


def check_button_shown(env, shot):
    _, _, (left, top, _, _) = window_rect(env)
    r, g, b = env.pixel(shot, left + BUTTON[0], top + BUTTON[1])
    check(r > 200 and 140 < g < 220 and b < 100, f"browser button colour at its place: {(r, g, b)}")


def test_download_reuse_of_an_earlier_installer(env):
    put(env, "C:\\Temp\\wlpq1(wlpqhd)(3).exe", sample_bytes(env))
    with Server(env, sample_reply(env)) as server:
        check_eq(wait_exit(env.start_stub(), 60), 0, "exit code")
        check_eq(server.data(), ["Info", "one", "frmLoad", "IsDownEmp=OK"], "reports")
        check_eq(server.file_requests(), [], "file requests")
    check(os.path.exists(env.path("C:\\Temp\\wlpq1(wlpqhd)(3).exe.ran")), "the found installer ran")


def test_download_taken_names_give_the_next_variant(env):
    put(env, "C:\\Temp\\" + FALLBACK_NAME, b"old")
    put(env, "C:\\Temp\\wlpq1(wlpqhd)(1).exe", b"older")
    with Server(env, sample_reply(env)) as server:
        check_eq(wait_exit(env.start_stub(), 60), 0, "exit code")
        data = server.data()
    check_eq(data[:6], ["Info", "one", "frmLoad", "CheckFile-wlpq1(wlpqhd)(1).exe",
                        "CheckFile-wlpq1(wlpqhd)(2).exe", "BeginDown"], "reports")
    check(data[6].startswith("DownFinish=OK:"), f"last report {data[6]!r}")
    check(os.path.exists(env.path("C:\\Temp\\wlpq1(wlpqhd)(2).exe.ran")), "saved as (2) and run")


def test_download_wrong_digest_retries_then_offers_the_browser(env):
    junk = b"not the installer" * 60
    with Server(env, sample_reply(env, md5=WRONG_MD5), files={FALLBACK_PATH: junk},
                installer=False) as server:
        proc = env.start_stub()
        data = failed_state(server)
        shot = env.screenshot("failed-state")
        check_eq(proc.poll(), None, "the program stays after the second failure")
        check_button_shown(env, shot)
        env.helper("click", WINDOW, *CLOSE_ZONE)
        check_eq(wait_exit(proc, 30), 0, "exit code after the close zone")
        data = server.data()
    check_eq(data[:4], ["Info", "one", "frmLoad", "BeginDown"], "first reports")
    first = (rf"DownFinish=Not:{SEC} DownCode=4,14,6, DiskSpace=\d+ URLMon=1 "
             rf"SavePath=C:\\Temp\\ DownMD5=[0-9A-F]{{32}} FileMD5={WRONG_MD5} url={URL}")
    check(re.fullmatch(first, data[4]) is not None, f"first failure report {data[4]!r}")
    check_eq(data[5:7], ["AutoReDown", "BeginDown"], "the retry")
    second = first.replace(r"C:\\Temp\\", rf"C:\\{APP_DIR}\\")
    check(re.fullmatch(second, data[7]) is not None, f"second failure report {data[7]!r}")
    check_eq(data[8:], [f"fromClose-Down={len(junk)}-"], "the close zone's report")
    check_eq(env.files_under("C:\\Temp\\"), ["1.tmp", FALLBACK_NAME], "C:\\Temp")
    check_eq(env.files_under(f"C:\\{APP_DIR}\\"), ["1.tmp", "setup.exe", FALLBACK_NAME], "program folder")


def run_to_failure_and_close(env, server, done=None, **start):
    """Runs the stub until it waits after its second failure, then ends it
    with Alt+F4; returns every report."""
    proc = env.start_stub(**start)
    failed_state(server, timeout=90, done=done)
    check_eq(env.helper("close", WINDOW)[0], 0, "Alt+F4 reaches the window")
    check_eq(wait_exit(proc, 20), 0, "exit code after Alt+F4")
    return server.data()


def test_download_unusable_c_temp_goes_to_d_temp(env):
    put(env, "C:\\Temp\\1.tmp\\blocker")  # the probe file cannot be written: C:\Temp is unusable
    env.map_d()
    with Server(env, sample_reply(env)) as server:
        check_eq(wait_exit(env.start_stub(), 60), 0, "exit code")
        data = server.data()
    check(re.fullmatch(rf"DownFinish=OK:{SEC} DownCode=(\d+,)+ SavePath=D:\\Temp\\ url={URL}", data[-1])
          is not None, f"last report {data[-1]!r}")
    check(os.path.exists(env.path("D:\\Temp\\" + FALLBACK_NAME + ".ran")), "saved to D:\\Temp and run")


def test_download_no_writable_folder_uses_the_program_folder(env):
    put(env, "C:\\Temp\\1.tmp\\blocker")
    put(env, f"C:\\{APP_DIR}\\1.tmp\\blocker")
    with Server(env, sample_reply(env)) as server:
        check_eq(wait_exit(env.start_stub(), 60), 0, "exit code")
        data = server.data()
    check_eq(data[:5], ["Info", "one", "frmLoad", "TestEmp=Not", "BeginDown"], "reports")
    check(f"SavePath=C:\\{APP_DIR}\\ " in data[5] and data[5].startswith("DownFinish=OK:"),
          f"last report {data[5]!r}")
    check(os.path.exists(env.path(f"C:\\{APP_DIR}\\wlpq1(wlpqhd)(2).exe.ran")), "saved as (2) and run")


def test_download_unsafe_names_stay_inside_the_folder(env):
    sample = sample_bytes(env)
    # (A query in the address is a row of the fault matrix.)
    for url, saved in [(BASE + "dl/..\\..\\evil.exe", ".._.._evil.exe")]:
        env.reset()
        files = {"dl/..\\..\\evil.exe": sample, "evil.exe": sample, "dl/evil.exe": sample,
                 "dl/setup.exe": sample}
        with Server(env, sample_reply(env, url=url), files=files) as server:
            check_eq(wait_exit(env.start_stub(), 60), 0, f"exit code for {url}")
            data = server.data()
        check(data[-1].startswith("DownFinish=OK:"), f"{url}: last report {data[-1]!r}")
        check(saved in env.files_under("C:\\Temp\\"), f"{url}: saved as {saved!r} in C:\\Temp")
        stray = [n for n in os.listdir(env.drive_c) if "evil" in n or "setup" in n]
        check_eq(stray, [], "nothing written to C:\\")


def slow_server(env, **kw):
    return Server(env, sample_reply(env, **kw), options=["--file-rate", "16000"])


def test_download_second_instance_brings_the_first_forward(env):
    with slow_server(env) as server:
        first = env.start_stub()
        wait_for(server, lambda d: "BeginDown" in d, 30, "the first download")
        cover = env.wine_start(os.path.join(env.win_bin, "e2e-helper.exe"), "hold", "Cover", "60",
                               "show")
        check_eq(env.helper("wait", "Cover", "10")[0], 0, "another window")
        time.sleep(0.5)
        check_eq(env.helper("above", "Cover", WINDOW)[0], 0, "the other window covers the stub's")
        second = env.start_stub(copy=False)  # the same executable, still running
        check_eq(wait_exit(second, 30), 0, "the second instance ends by itself")
        check_eq(server.data().count("Info"), 2, "both asked for the download data")
        check_eq(server.data().count("one"), 1, "only the first reported its start")
        check_eq(window_rect(env, APP_TITLE)[0], 1, "the application window is shown")
        check_eq(env.helper("above", WINDOW, "Cover")[0], 0, "the download window comes to the front")
        cover.kill()
        cover.wait()
        env.helper("close", WINDOW)
        check_eq(wait_exit(first, 30), 0, "the first instance ends on Alt+F4")


def test_download_close_zone_during_a_download_only_warns(env):
    with slow_server(env) as server:
        proc = env.start_stub()
        wait_for(server, lambda d: "BeginDown" in d, 30, "the download")
        time.sleep(1)
        env.helper("click", WINDOW, *CLOSE_ZONE)
        check_eq(env.helper("wait", "提示", "10")[0], 0, "the message box")
        env.screenshot("close-zone-message")
        check_eq(proc.poll(), None, "still running")
        # The box keeps its keyboard while progress keeps arriving.
        time.sleep(1)
        # (Wine takes about 2 s to take down even a lone box after a posted Enter.)
        code, ms = env.helper("enter", "提示", "5000")
        check_eq(code, 0, f"Enter closes the box ({ms.strip()} ms)")
        check_eq(wait_exit(proc, 90), 0, "exit code after the download")
        data = server.data()
    check(data[-1].startswith("DownFinish=OK:"), f"the download went on: {data!r}")
    check(not any(d.startswith("fromClose") for d in data), "no close report")


def test_download_alt_f4_during_a_download_ends_at_once(env):
    with slow_server(env) as server:
        proc = env.start_stub()
        wait_for(server, lambda d: "BeginDown" in d, 30, "the download")
        time.sleep(1)
        start = time.monotonic()
        env.helper("close", WINDOW)
        check_eq(wait_exit(proc, 30), 0, "exit code")
        check(time.monotonic() - start < 6, "ended at once")
        check(not any(d.startswith("DownFinish") for d in server.data()), "no download report")


SHADOW_DEPTH = 8               # the download window's shadow, in pixels
SHADOW_EX_STYLE = 0x80024      # layered, transparent to the mouse, no parent notification


def check_shadow(env, shot):
    """Four shadow windows owned by the download window frame it, darkest at its edge."""
    _, _, (left, top, right, bottom) = window_rect(env)
    code, out = env.helper("owned", WINDOW)
    check_eq(code, 0, "the download window's owned windows")
    pieces = sorted(tuple(int(v) for v in line.split()) for line in out.splitlines()
                    if line.split()[-1] == str(SHADOW_EX_STYLE))
    d = SHADOW_DEPTH
    expected = sorted((1, *rect, SHADOW_EX_STYLE) for rect in [
        (right, top - d, right + d, bottom + d),  # right, with both right corners
        (left - d, bottom, right, bottom + d),    # bottom, with the bottom-left corner
        (left - d, top, left, bottom),            # left
        (left - d, top - d, right, top),          # top, with the top-left corner
    ])
    check_eq(pieces, expected, "shadow windows: visible, rectangle, extended style")
    mid = (top + bottom) // 2
    near, far, ground = (sum(env.pixel(shot, x, mid)) for x in (right, right + d - 1, right + 40))
    check(near < far < ground and ground - near >= 30,
          f"the shadow fades outward: {near} at the edge, {far} outside, {ground} beyond")


def test_download_window_answers_during_a_slow_download(env):
    with slow_server(env) as server:
        proc = env.start_stub()
        wait_for(server, lambda d: "BeginDown" in d, 30, "the download")
        time.sleep(2)
        check_shadow(env, env.screenshot("mid-download"))
        for _ in range(5):
            code, ms = env.helper("ping", WINDOW, "1000")
            check_eq(code, 0, f"the window answered (after {ms} ms)")
            time.sleep(0.3)
        env.helper("close", WINDOW)
        wait_exit(proc, 30)


def test_download_trail_4_14_5_6_runs_the_installer_anyway(env):
    with Server(env, sample_reply(env, md5=WRONG_MD5), options=["--file-rate", "150000"]) as server:
        check_eq(wait_exit(env.start_stub(), 60), 0, "exit code")
        data = server.data()
    check_eq(data[:4], ["Info", "one", "frmLoad", "BeginDown"], "reports")
    check(" DownCode=4,14,5,6, " in data[4] and data[4].startswith("DownFinish=Not:"),
          f"failure report with the full trail: {data[4]!r}")
    check_eq(data[5:], ["CheackFinish=OK"], "the installer's window was found")
    check(os.path.exists(env.path("C:\\Temp\\" + FALLBACK_NAME + ".ran")), "the installer ran")


def test_download_trail_4_14_5_6_with_an_installer_error(env):
    with Server(env, sample_reply(env), files={FALLBACK_PATH: sample_bytes(env, error=True)},
                options=["--file-rate", "150000"]) as server:
        data = run_to_failure_and_close(env, server, done=lambda d: d.count("NSISError") >= 2)
    check_eq([d.split(":")[0] for d in data],
             ["Info", "one", "frmLoad", "BeginDown", "DownFinish=Not", "NSISError", "AutoReDown",
              "BeginDown", "DownFinish=Not", "NSISError"], "reports")
