"""Start-up: profile, information exchange, fallback, single instance, "one"."""
import re
import time

from harness import Failure, Server, check, check_eq, is_timeid, profile_query, query_of

SAMPLE_REPLY = ("DownUrl==http://127.0.0.1:18471/files/setup.exe<#>FileMD5==0123<#>"
                "NameTitle==Korvel安装<#>NISITitle==Korvel<#>NISIVer==3.1")
TITLE_1 = "Korvel安装助手"  # the build's default STUB_TITLE_1


def run(env, server, name="setup.exe", timeout=60):
    exe = env.install_copy(name)
    code, secs = env.wine(exe, timeout=timeout)
    check_eq(code, 0, f"{name} exit code")
    return secs, server.events()


def check_profile(events):
    """Every request carries the same TimeID and a well-formed profile."""
    first = events[0]
    for e in events:
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


def test_normal_start_sends_info_then_one(env):
    with Server(env, SAMPLE_REPLY) as server:
        _, events = run(env, server)
    check_eq([(e["Key"], e["Data"]) for e in events], [("Info", None), ("Setup", "one")],
             "requests")
    check_profile(events)
    info, one = events
    # The exact text of both queries, key by key in order.
    check_eq(query_of(info["target"]), f"Key=Info&TimeID={info['TimeID']}" + profile_query(info),
             "Info query")
    check_eq(query_of(one["target"]), f"Key=Setup&Data=one&TimeID={one['TimeID']}" +
             profile_query(one), "report query")
    check(re.fullmatch(r"C\d{24}", info["PcId"]) is not None,
          f"PcId in the processor form: {info['PcId']!r}")


def test_silent_server_falls_back_after_the_wait(env):
    with Server(env, SAMPLE_REPLY, options=["--info-delay", "30"]) as server:
        secs, events = run(env, server)
    check_eq([(e["Key"], e["Data"]) for e in events],
             [("Info", None), ("Setup", "GetNetIsnull=''"), ("Setup", "one")], "requests")
    check_profile(events)
    check(4 <= secs < 9, f"the 5-second rule: the run took {secs:.1f} s")


def test_closed_port_falls_back_without_hanging(env):
    exe = env.install_copy("setup.exe")
    code, secs = env.wine(exe, timeout=60)
    check_eq(code, 0, "exit code")
    check(secs < 9, f"the run took {secs:.1f} s")


def test_reply_without_download_url_reports_the_coded_reply(env):
    plain = "NameTitle==Korvel 安装 标题<#>NISIVer==2.0"
    coded = env.encode(plain)
    with Server(env, plain) as server:
        _, events = run(env, server)
    check_eq([(e["Key"], e["Data"]) for e in events],
             [("Info", None), ("Setup", f"GetNetIsnull='{coded}'"), ("Setup", "one")], "requests")
    raw = events[1]["target"]
    # Spaces and Chinese leave percent-encoded as UTF-8, and decode back.
    check("%20" in raw and re.search(r"%E[0-9A-F]%[89AB][0-9A-F]", raw), f"wire form {raw!r}")
    check(" " not in raw, "no raw space on the wire")


def test_os_name_follows_the_windows_version(env):
    expected = {"win98": "Win98", "winxp": "WinXP", "win7": "Win7", "win8": "Win8",
                "win10": "NotFind"}
    try:
        for version, name in expected.items():
            env.reg_version("setup.exe", version)
            with Server(env, SAMPLE_REPLY) as server:
                _, events = run(env, server)
            check_eq([e["OS"] for e in events], [name, name], f"OS under {version}")
    finally:
        env.reg_version("setup.exe", None)


def test_title_one_for_vh2vh6_names_and_the_window_check(env):
    # A window titled with title 1 exists: the copy whose name selects title 1
    # finds it and ends without "one"; a copy with another name does not.
    holder = env.wine_start(env.win_bin + "/hold-window.exe", TITLE_1, "60")
    try:
        time.sleep(1.5)
        with Server(env, SAMPLE_REPLY) as server:
            _, events = run(env, server, name="korvel_vh2vh6_setup.exe")
        check_eq([e["Key"] for e in events], ["Info"], "requests of the vh2vh6 copy")
        with Server(env, SAMPLE_REPLY) as server:
            _, events = run(env, server, name="korvel_VH2VH6_setup.exe")
        check_eq([(e["Key"], e["Data"]) for e in events], [("Info", None), ("Setup", "one")],
                 "requests of a copy named in capitals")
    finally:
        holder.kill()
        holder.wait()
