"""The fault matrix: one run of the real stub per fault, each checked for the
same promises (no crash, no hang beyond the time-outs, nothing written outside
C:\\Temp\\, D:\\Temp\\ and the program's folder, no unchecked file started,
every report it sent recorded by the server), and written up as a table that
must match docs/faults.md."""
import os
import random
import subprocess
import tempfile
import time

import scenarios_tls
from harness import (APP_DIR, BASE, FALLBACK_NAME, FALLBACK_PATH, Server, check, check_eq, raw_reply,
                     sample_reply, wait_exit)
from scenarios_download import (WINDOW, failed_state, put, run_to_failure_and_close, sample_bytes,
                                wait_for)

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DOC = os.path.join(ROOT, "docs", "faults.md")
RESULTS = {}  # row name -> (fault, what the stub did, what the server recorded)
ROWS = []
ALLOWED = ("C:\\Temp\\", "D:\\Temp\\", f"C:\\{APP_DIR}\\", f"D:\\{APP_DIR}\\")
FULL_RUN = ["one", "frmLoad", "BeginDown", "DownFinish=OK"]
FAILED_RUN = ["one", "frmLoad", "BeginDown", "DownFinish=Not", "AutoReDown", "BeginDown",
              "DownFinish=Not"]


def short(data):
    """A report as the table shows it: the event, not its variable values."""
    if data.startswith("DownFinish="):
        return data.split(":")[0]
    if data.startswith("GetNetIsnull='") and len(data) > 20:
        return "GetNetIsnull='…'"
    return data


def row(fault, did):
    def register(fn):
        name = f"test_fault_{len(ROWS):02d}_{fn.__name__}"

        def test(env):
            before = env.snapshot()
            start = time.monotonic()
            data, installs = fn(env)
            new = sorted(env.snapshot() - before)
            stray = [p for p in new if not (p + "\\").startswith(ALLOWED)]
            check_eq(stray, [], "files written outside the allowed folders")
            ran = [p for p in new if p.endswith(".ran")]
            check_eq(bool(ran), installs, f"an installer started ({ran})")
            recorded = ", ".join(short(d) for d in data) or "nothing reached it"
            RESULTS[name] = (fault, did, f"{len(data)}: {recorded}")
            check(time.monotonic() - start < 120, "the row's run took too long")

        test.__name__ = name
        globals()[name] = test
        ROWS.append(name)
        return fn
    return register


def expect(data, events):
    check_eq([short(d) for d in data], events, "reports")


def run_to_end(env, server, timeout=60, **start):
    check_eq(wait_exit(env.start_stub(**start), timeout), 0, "exit code")
    return server.data()


def failing_download(env, options=(), **reply):
    """A download that fails twice: the stub then waits with the browser button
    until Alt+F4."""
    with Server(env, sample_reply(env, **reply), options=list(options)) as server:
        data = run_to_failure_and_close(env, server)
    expect(data, ["Info", *FAILED_RUN])
    return data, False


@row("Report server silent", "waits 5 s, falls back to the built-in download, installs")
def silent(env):
    with Server(env, sample_reply(env), options=["--info-delay", "60"]) as server:
        data = run_to_end(env, server)
    expect(data, ["Info", "GetNetIsnull=''", *FULL_RUN])
    return data, True


@row("Report server slow (answers after 6 s)", "stops waiting at 5 s, ignores the late reply, installs the built-in download")
def slow(env):
    with Server(env, sample_reply(env, url=BASE + "other/setup.exe"), options=["--info-delay", "6"]) as server:
        data = run_to_end(env, server)
    expect(data, ["Info", "GetNetIsnull=''", *FULL_RUN])
    return data, True


@row("Closed port (no server at all)", "stops waiting at once, both downloads fail, stays with the browser button; Alt+F4 ends it")
def closed_port(env):
    proc = env.start_stub()
    check_eq(env.helper("wait", WINDOW, "10")[0], 0, "the window appears")
    time.sleep(8)  # the download, the retry and the second failure
    check_eq(proc.poll(), None, "waits for the user after the second failure")
    env.helper("close", WINDOW)
    check_eq(wait_exit(proc, 20), 0, "exit code")
    return [], False


@row("Report server and download host names that do not resolve", "stops waiting when the lookup fails, both downloads fail, stays with the browser button; Alt+F4 ends it")
def unresolvable_server(env):
    with Server(env, sample_reply(env)) as server:  # listening, but never reached
        proc = env.start_stub(build="stub-unresolvable.exe")
        start = time.monotonic()
        check_eq(env.helper("wait", WINDOW, "15")[0], 0, "the window appears")
        check(time.monotonic() - start < 9, "the information wait keeps its 5-second bound")
        time.sleep(15)  # the two downloads fail (each bounded by the stall limit)
        check_eq(proc.poll(), None, "waits for the user after the second failure")
        env.helper("close", WINDOW)
        check_eq(wait_exit(proc, 20), 0, "exit code")
        data = server.data()
    return data, False


@row("Download host name that does not resolve", "both downloads fail, stays with the browser button; Alt+F4 ends it")
def unresolvable(env):
    return failing_download(env, url="http://stub-test.invalid/installer.exe")


@row("Reply of 1 MiB + 1 byte", "reads at most 1 MiB, finds no download data, installs the built-in download; the report carries the first 2000 units")
def huge_reply(env):
    raw = os.path.join(tempfile.mkdtemp(), "raw.html")
    with open(raw, "wb") as f:
        f.write(b"x" * (1024 * 1024 + 1))
    with Server(env, options=["--info-raw", raw]) as server:
        data = run_to_end(env, server)
    expect(data, ["Info", "GetNetIsnull='…'", *FULL_RUN])
    check_eq(len(data[1]), len("GetNetIsnull=''") + 2000, "length of the fallback report")
    return data, True


@row("Reply of random bytes", "finds no download data, installs the built-in download")
def random_reply(env):
    raw = os.path.join(tempfile.mkdtemp(), "raw.html")
    with open(raw, "wb") as f:
        f.write(random.Random(7).randbytes(4096).replace(b"#", b"-"))
    with Server(env, options=["--info-raw", raw]) as server:
        data = run_to_end(env, server)
    expect(data, ["Info", "GetNetIsnull='…'", *FULL_RUN])
    return data, True


@row("Reply that decodes to garbage", "finds no download data, installs the built-in download")
def garbage_reply(env):
    with Server(env, "no keys at all, just words") as server:
        data = run_to_end(env, server)
    expect(data, ["Info", "GetNetIsnull='…'", *FULL_RUN])
    return data, True


@row("DownUrl whose name holds ..\\", "saves it as .._.._evil.exe inside C:\\Temp\\, installs")
def dotdot_name(env):
    sample = sample_bytes(env)
    files = {"dl/..\\..\\evil.exe": sample, "evil.exe": sample, "dl/evil.exe": sample}
    with Server(env, sample_reply(env, url=BASE + "dl/..\\..\\evil.exe"), files=files) as server:
        data = run_to_end(env, server)
    expect(data, ["Info", *FULL_RUN])
    check(".._.._evil.exe" in env.files_under("C:\\Temp\\"), "the safe name")
    return data, True


@row("DownUrl naming a device (nul.exe, con)", "saves them as _nul.exe and _con inside C:\\Temp\\, verifies them, opens _nul.exe through its handler and starts _con as a program")
def device_names(env):
    sample = sample_bytes(env)
    results = []
    for name, saved in [("nul.exe", "_nul.exe"), ("con", "_con")]:
        env.reset()
        with Server(env, sample_reply(env, url=BASE + "dl/" + name), files={"dl/" + name: sample}) as server:
            data = run_to_end(env, server)
        expect(data, ["Info", *FULL_RUN])
        check(saved in env.files_under("C:\\Temp\\"), f"{name} saved as {saved}")
        results = data
    return results, True


@row("DownUrl of \\\\host\\share\\x.exe or file:///C:/x.exe", "no request leaves, nothing starts; both attempts fail without a transfer, stays with the browser button; Alt+F4 ends it")
def non_web_address(env):
    local = env.path("C:\\x.exe")
    results = []
    try:
        for url in ["\\\\host\\share\\x.exe", "file:///C:/x.exe"]:
            env.reset()
            put(env, "C:\\x.exe", sample_bytes(env))  # what file: would reach, digest and all
            with Server(env, options=raw_reply(env, sample_reply(env, url=url))) as server:
                results = run_to_failure_and_close(env, server)
                check_eq(server.file_requests(), [], f"{url}: requests for files")
            expect(results, ["Info", *FAILED_RUN])
            check(not os.path.exists(local + ".ran"), f"{url}: nothing started")
    finally:
        for leftover in (local, local + ".ran"):
            if os.path.exists(leftover):
                os.remove(leftover)
    return results, False


@row("A query in the address (setup.exe?v=2)", "saves it as setup.exe inside C:\\Temp\\, installs")
def query_in_address(env):
    with Server(env, sample_reply(env, url=BASE + "dl/setup.exe?v=2"),
                files={"dl/setup.exe": sample_bytes(env)}) as server:
        data = run_to_end(env, server)
    expect(data, ["Info", *FULL_RUN])
    saved = env.files_under("C:\\Temp\\")
    check("setup.exe" in saved and not any("v=2" in n for n in saved), f"saved as setup.exe: {saved}")
    return data, True


@row("Download answered 404", "both downloads fail the digest check, stays with the browser button; Alt+F4 ends it")
def status_404(env):
    return failing_download(env, ["--file-status", "404"])


@row("Download answered 500", "both downloads fail the digest check, stays with the browser button; Alt+F4 ends it")
def status_500(env):
    return failing_download(env, ["--file-status", "500"])


@row("Download truncated (connection closed early)", "both downloads fail the digest check, stays with the browser button")
def truncated(env):
    return failing_download(env, ["--file-truncate", "5000"])


@row("Download stalled (no data, connection held)", "aborts each transfer after the stall limit, stays with the browser button")
def stalled(env):
    return failing_download(env, ["--file-stall", "5000"])


@row("Download trickling (1 byte a second)", "keeps downloading with the window answering; Alt+F4 ends it at once")
def trickle(env):
    with Server(env, sample_reply(env), options=["--file-rate", "1"]) as server:
        proc = env.start_stub()
        wait_for(server, lambda d: "BeginDown" in d, 30, "the download")
        # Under Wine a 1-byte-a-second body brings no progress at all, so the
        # look comes before the 5-second stall limit of the test build.
        time.sleep(2.5)
        check_eq(env.helper("ping", WINDOW, "1000")[0], 0, "the window answers")
        env.helper("close", WINDOW)
        check_eq(wait_exit(proc, 10), 0, "exit code")
        data = server.data()
    expect(data, ["Info", "one", "frmLoad", "BeginDown"])
    return data, False


@row("Download without Content-Length", "shows no progress (no total), verifies the file, installs")
def chunked(env):
    with Server(env, sample_reply(env), options=["--file-chunked"]) as server:
        data = run_to_end(env, server)
    expect(data, ["Info", *FULL_RUN])
    check(" DownCode= SavePath=" in data[-1], f"no status with a total: {data[-1]!r}")
    return data, True


@row("Download larger than announced", "keeps the announced bytes, verifies the file, installs")
def oversize(env):
    with Server(env, sample_reply(env), options=["--file-extra", "1000"]) as server:
        data = run_to_end(env, server)
    expect(data, ["Info", *FULL_RUN])
    return data, True


@row("Disk full (a 300 KB D: drive, the program on D:)", "both downloads fail, shows \"D盘已没有可用空间,无法安装软件！\", then the browser button")
def disk_full(env):
    folder = tempfile.mkdtemp(prefix="e2e-small-d-")
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=300k", "tmpfs", folder], check=True)
    try:
        env.map_d(folder)
        put(env, "C:\\Temp\\1.tmp\\blocker")  # C:\Temp unusable: D:\Temp is chosen
        with Server(env, sample_reply(env)) as server:
            proc = env.start_stub(folder=f"D:\\{APP_DIR}\\")
            failed_state(server, timeout=60)
            check_eq(env.helper("wait", "提示", "15")[0], 0, "the disk-full message")
            env.screenshot("disk-full-message")
            env.helper("close", "提示")
            time.sleep(1)
            env.helper("close", WINDOW)
            check_eq(wait_exit(proc, 20), 0, "exit code")
            data = server.data()
        check(" DiskSpace=0 " in data[-1], f"no space reported: {data[-1]!r}")
        # The first attempt filled the drive: the retry's probe fails there too.
        expect(data, ["Info", "one", "frmLoad", "BeginDown", "DownFinish=Not", "AutoReDown",
                      "TestEmp=Not", "BeginDown", "DownFinish=Not"])
        return data, False
    finally:
        subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL)
        subprocess.run(["umount", folder])


@row("C:\\Temp\\ read-only, no D: drive", "saves in the program's folder, installs")
def read_only_temp(env):
    temp = env.path("C:\\Temp\\")
    os.makedirs(temp, exist_ok=True)
    subprocess.run(["chattr", "+i", temp], check=True)
    try:
        with Server(env, sample_reply(env)) as server:
            data = run_to_end(env, server)
        expect(data, ["Info", *FULL_RUN])
        check(f"SavePath=C:\\{APP_DIR}\\ " in data[-1], f"saved in the program's folder: {data[-1]!r}")
        return data, True
    finally:
        subprocess.run(["chattr", "-i", temp])


@row("Every folder read-only", "reports TestEmp=Not, both downloads fail, stays with the browser button")
def read_only_everywhere(env):
    temp, app = env.path("C:\\Temp\\"), env.path(f"C:\\{APP_DIR}\\")
    os.makedirs(temp, exist_ok=True)
    env.install_copy("setup.exe")
    subprocess.run(["chattr", "+i", temp, app], check=True)
    try:
        with Server(env, sample_reply(env)) as server:
            data = run_to_failure_and_close(env, server, copy=False)
        expect(data, ["Info", "one", "frmLoad", "TestEmp=Not", "BeginDown", "DownFinish=Not",
                      "AutoReDown", "TestEmp=Not", "BeginDown", "DownFinish=Not"])
        return data, False
    finally:
        subprocess.run(["chattr", "-i", temp, app])


@row("A file of the same name locked by another program", "cannot read it, saves as (1), installs")
def locked_name(env):
    locked = env.path("C:\\Temp\\" + FALLBACK_NAME)
    put(env, "C:\\Temp\\" + FALLBACK_NAME, b"old")
    holder = env.wine_start(os.path.join(env.win_bin, "e2e-helper.exe"), "lock",
                            "C:\\Temp\\" + FALLBACK_NAME, "60")
    try:
        time.sleep(1.5)
        with Server(env, sample_reply(env)) as server:
            data = run_to_end(env, server)
        expect(data, ["Info", "one", "frmLoad", "CheckFile-wlpq1(wlpqhd)(1).exe", "BeginDown",
                      "DownFinish=OK"])
        check(os.path.exists(env.path("C:\\Temp\\wlpq1(wlpqhd)(1).exe.ran")), "(1) installed")
        check(open(locked, "rb").read() == b"old", "the locked file is untouched")
        return data, True
    finally:
        holder.kill()
        holder.wait()


@row("A file held open for writing by another program after a 4,14,5,6 transfer with a wrong digest", "cannot read it, so never starts it; both attempts fail, stays with the browser button")
def locked_after_clean_transfer(env):
    helper = os.path.join(env.win_bin, "e2e-helper.exe")
    holders = [env.wine_start(helper, "grab", folder + FALLBACK_NAME, "60")
               for folder in ("C:\\Temp\\", f"C:\\{APP_DIR}\\")]
    try:
        with Server(env, sample_reply(env, md5="0" * 32), options=["--file-rate", "150000"]) as server:
            data = run_to_failure_and_close(env, server)
        expect(data, ["Info", *FAILED_RUN])
        for report in (data[4], data[7]):
            check(" DownCode=4,14,5,6, " in report and " DownMD5=* ERR: " in report,
                  f"a clean trail, an unreadable file: {report!r}")
        return data, False
    finally:
        for holder in holders:
            holder.kill()
            holder.wait()


@row("Report server slow to answer reports (3 s each)", "waits briefly for each answer, installs; nothing lost")
def slow_report_answers(env):
    with Server(env, sample_reply(env), options=["--report-delay", "3"]) as server:
        data = run_to_end(env, server)
    expect(data, ["Info", *FULL_RUN])
    return data, True


@row("Alt+F4 while waiting to start", "ends at once; nothing downloaded")
def alt_f4_waiting(env):
    with Server(env, sample_reply(env)) as server:
        proc = env.start_stub()
        check_eq(env.helper("wait", WINDOW, "10")[0], 0, "the window appears")
        env.helper("close", WINDOW)
        check_eq(wait_exit(proc, 10), 0, "exit code")
        data = server.data()
    check(data in (["Info", "one", "frmLoad"], ["Info", "one", "frmLoad", "BeginDown"]),
          f"reports {data!r}")
    return data[:3], False


@row("Alt+F4 in the failed state", "ends at once")
def alt_f4_failed(env):
    return status_404(env)


@row("Two instances started together", "one installs; the other asks for the data and ends without \"one\"")
def two_together(env):
    with Server(env, sample_reply(env)) as server:
        env.install_copy("setup.exe")
        a, b = env.start_stub(copy=False), env.start_stub(copy=False)
        check_eq(wait_exit(a, 60), 0, "first exit code")
        check_eq(wait_exit(b, 60), 0, "second exit code")
        data = server.data()
    check_eq(data.count("Info"), 2, "both asked for the data")
    check_eq(data.count("one"), 1, "only one started")
    rest = [d for d in data if d != "Info"]
    expect(rest, FULL_RUN)
    return ["Info", *rest[:1], "Info", *rest[1:]], True


def bad_tls_report_server(env, kind):
    """The TLS copy's report server shows a certificate the system must
    refuse: the stub drops the exchange and the reports and installs the
    built-in download from its (trusted) download host."""
    with scenarios_tls.report_server(env, sample_reply(env), tls=kind) as server, \
            scenarios_tls.download_host(env) as dl:
        run_to_end(env, server, build=scenarios_tls.BUILD)
        data = server.data()
        fallback = [f.split("?")[0] for f in dl.file_requests()]
    check_eq(data, [], "nothing reached the refused server")
    check_eq(fallback, ["/" + FALLBACK_PATH], "the built-in download came from the download host")
    return data, True


@row("TLS report server with a certificate from an untrusted issuer", "stops waiting at once, sends it nothing, installs the built-in download from its https:// host")
def tls_untrusted_server(env):
    return bad_tls_report_server(env, "untrusted")


@row("TLS report server with a certificate for another host name", "stops waiting at once, sends it nothing, installs the built-in download from its https:// host")
def tls_wrong_host_server(env):
    return bad_tls_report_server(env, "wrong-host")


@row("TLS report server with an expired certificate", "stops waiting at once, sends it nothing, installs the built-in download from its https:// host")
def tls_expired_server(env):
    return bad_tls_report_server(env, "expired")


@row("TLS download host with a certificate from an untrusted issuer", "downloads nothing from it, both downloads fail, stays with the browser button; Alt+F4 ends it")
def tls_untrusted_download(env):
    url = scenarios_tls.DL_BASE + FALLBACK_PATH
    with scenarios_tls.report_server(env, sample_reply(env, url=url)) as server, \
            scenarios_tls.download_host(env, tls="untrusted") as dl:
        data = run_to_failure_and_close(env, server, build=scenarios_tls.BUILD)
        check_eq(dl.events(), [], "nothing reached the refused download host")
    expect(data, ["Info", *FAILED_RUN])
    return data, False


def test_fault_zz_matrix_matches_docs(env):
    if len(RESULTS) != len(ROWS):
        return  # a filtered or failed run: nothing to compare
    lines = ["# Fault matrix", "",
             "Generated by the end-to-end suite (tests/e2e/scenarios_faults.py): one run of the",
             "real stub under Wine per fault. Every row also checks: exit code 0 (no crash), no",
             "wait beyond the time-outs, no file written outside C:\\Temp\\, D:\\Temp\\ and the",
             "program's folder, an installer started only after its digest check (or the",
             "4,14,5,6 rule), and every report the stub sent recorded by the server.", "",
             "| Fault | What the stub did | What the server recorded (count: events) |",
             "|---|---|---|"]
    for name in ROWS:
        fault, did, recorded = RESULTS[name]
        lines.append(f"| {fault} | {did} | {recorded} |")
    lines += ["", "Covered below the end-to-end level:", "",
              "| Fault | Where it is tested |", "|---|---|",
              "| The installer deleted or replaced between the digest check and the launch | "
              "Windows suite, WinFileSystem: the checked file is held open with read-only "
              "sharing, so deleting or writing it fails until it has been started |",
              "| Local midnight during a wait or a download | native suite, download tests: "
              "waits end at 86395 s, durations across midnight are negative, the speed line "
              "stops |",
              "| Alt+F4 in every state of the flow | native suite (the controller ends from "
              "any state and nothing runs afterwards) and the rows above |",
              "| A 4,14,5,6 trail split across a first attempt and its retry, or a transfer "
              "aborted after a stall | native suite, download flow: the rule judges only the "
              "transfer that made the file, and never an aborted one |",
              "| A name without a known extension (_con, a query-only name) | native suite: "
              "started as a program; .exe and .msi through their handlers |",
              "| Progress far beyond the announced total | native suite: the bar's fill never "
              "exceeds the track |",
              "| Progress arriving while a modal loop runs (the close-zone message box, a "
              "drag) | Windows suite, URLDownFile: it waits until the loop ends, then catches "
              "up; end-to-end: Enter closes the box during a throttled download |"]
    text = "\n".join(lines) + "\n"
    out = os.path.join(env.build, "faults.md")
    with open(out, "w", encoding="utf-8") as f:
        f.write(text)
    current = open(DOC, encoding="utf-8").read() if os.path.exists(DOC) else ""
    check(current == text, f"docs/faults.md is out of date: copy {out} over it")
