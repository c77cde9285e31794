"""Start-up: profile, information exchange, fallback, single-instance checks."""
import os
import re
import time

from harness import (BASE, FALLBACK_NAME, FALLBACK_PATH, Server, check, check_eq, is_timeid,
                     profile_query, query_of, sample_reply, wait_exit)

TITLE_1 = "Korvel安装助手"  # the build's default STUB_TITLE_1
OK_RE = (r"DownFinish=OK:-?\d+(\.\d\d?)? DownCode=(\d+,)+ SavePath=C:\\Temp\\ "
         r"url=127\.0\.0\.1:18471/rmgb/4\.2\.2/wlpq1\(wlpqhd\)\.exe")


def run(env, server, name="setup.exe", timeout=60):
    proc = env.start_stub(name)
    start = time.monotonic()
    check_eq(wait_exit(proc, timeout), 0, f"{name} exit code")
    return time.monotonic() - start, server.events()


def check_profile(events):
    """Every request carries the same TimeID and the same well-formed profile."""
    reports = [e for e in events if e["Key"] is not None]
    first = reports[0]
    for e in reports:
        check(is_timeid(e["TimeID"]), f"TimeID {e['TimeID']!r}")
        check_eq(e["TimeID"], first["TimeID"], "TimeID of every request")
        check_eq(profile_query(e), profile_query(first), "profile of every request")
    check_eq(first["softId"], "vrx", "softId")
    check_eq(first["PcId_C"], "", "PcId_C")
    check_eq(first["SoftVer"], "V3.1.1", "SoftVer")
    check_eq(first["Channel"], "wlpq", "Channel")
    check_eq(first["Scr"], "1024*768", "Scr")
    check(first["OSBit"] in ("32", "64"), f"OSBit {first['OSBit']!r}")
    check(re.fullmatch(r"\d+", first["DPI"]) is not None, f"DPI {first['DPI']!r}")
    check(re.fullmatch(r"\d+", first["OSLanguage"]) is not None, f"OSLanguage {first['OSLanguage']!r}")


def check_full_run(env, server, before=("Info",)):
    data = server.data()
    check_eq(data[:-1], [*before, "one", "frmLoad", "BeginDown"], "reports")
    check(re.fullmatch(OK_RE, data[-1]) is not None, f"last report {data[-1]!r}")
    check_eq(len(server.file_requests()), 1, "file requests")
    check(os.path.exists(env.path("C:\\Temp\\" + FALLBACK_NAME + ".ran")), "the installer ran")


def test_start_normal_run_sends_every_report_in_order(env):
    with Server(env, sample_reply(env)) as server:
        run(env, server)
        events = server.events()
        files = server.file_requests()
        check_full_run(env, server)
    check_profile(events)
    info, one = events[0], events[1]
    # The exact text of the queries, key by key, in order.
    check_eq(query_of(info["target"]), f"Key=Info&TimeID={info['TimeID']}" + profile_query(info),
             "Info query")
    check_eq(query_of(one["target"]), f"Key=Setup&Data=one&TimeID={one['TimeID']}" +
             profile_query(one), "report query")
    check(re.fullmatch(r"C\d{24}", info["PcId"]) is not None,
          f"PcId in the processor form: {info['PcId']!r}")
    check(re.fullmatch(r"/" + re.escape(FALLBACK_PATH) + r"\?20\d{12}", files[0]),
          f"download URL with its time stamp: {files[0]!r}")
    check_eq(env.files_under("C:\\Temp\\"), sorted(["1.tmp", FALLBACK_NAME, FALLBACK_NAME + ".ran"]),
             "files in C:\\Temp")


def test_start_silent_server_falls_back_after_the_wait(env):
    with Server(env, sample_reply(env), options=["--info-delay", "30"]) as server:
        proc = env.start_stub()
        start = time.monotonic()
        code, _ = env.helper("wait", "Korvel安装", "20")
        shown = time.monotonic() - start
        check_eq(code, 0, "the window appeared")
        check_eq(wait_exit(proc, 60), 0, "exit code")
        check_full_run(env, server, before=("Info", "GetNetIsnull=''"))
        check_profile(server.events())
    # The wait ends by the 5-second rule (4 to 5 s after it starts).
    check(4 <= shown < 9, f"window shown {shown:.1f} s after the start")


def test_start_closed_port_ends_the_wait_at_once(env):
    proc = env.start_stub()
    start = time.monotonic()
    code, _ = env.helper("wait", "Korvel安装", "20")
    shown = time.monotonic() - start
    check_eq(code, 0, "the window appeared")
    check(shown < 6, f"window shown {shown:.1f} s after the start")
    env.helper("close", "Korvel安装")
    check_eq(wait_exit(proc, 30), 0, "exit code after the close request")


def test_start_reply_without_download_url_reports_the_coded_reply(env):
    plain = "NameTitle==Korvel 安装 标题<#>NISIVer==2.0"
    coded = env.encode(plain)
    with Server(env, plain) as server:
        run(env, server)
        events = server.events()
        check_full_run(env, server, before=("Info", f"GetNetIsnull='{coded}'"))
    raw = events[1]["target"]
    # Spaces and Chinese leave percent-encoded as UTF-8, and decode back.
    check("%20" in raw and re.search(r"%E[0-9A-F]%[89AB][0-9A-F]", raw), f"wire form {raw!r}")
    check(" " not in raw, "no raw space on the wire")


def test_start_os_name_follows_the_windows_version(env):
    expected = {"win98": "Win98", "winxp": "WinXP", "win7": "Win7", "win8": "Win8",
                "win10": "NotFind"}
    try:
        for version, name in expected.items():
            env.reset()
            env.reg_version("setup.exe", version)
            with Server(env, sample_reply(env)) as server:
                run(env, server)
                oses = {e["OS"] for e in server.events() if e["Key"] is not None}
            check_eq(oses, {name}, f"OS under {version}")
    finally:
        env.reg_version("setup.exe", None)


def test_start_title_one_for_vh2vh6_names_and_the_window_check(env):
    # A window titled with title 1 exists: the copy whose name selects title 1
    # finds it and ends without "one"; a copy named in capitals does not.
    holder = env.wine_start(os.path.join(env.win_bin, "e2e-helper.exe"), "hold", TITLE_1, "90")
    try:
        check_eq(env.helper("wait", TITLE_1, "20")[0], 0, "the holding window")
        with Server(env, sample_reply(env)) as server:
            run(env, server, name="korvel_vh2vh6_setup.exe")
            check_eq(server.data(), ["Info"], "requests of the vh2vh6 copy")
        with Server(env, sample_reply(env)) as server:
            run(env, server, name="korvel_VH2VH6_setup.exe")
            check_eq(server.data()[:2], ["Info", "one"], "requests of a copy named in capitals")
    finally:
        holder.kill()
        holder.wait()
