"""The stub over TLS: the test copy stub-tls.exe asks https://localhost:18474/
and falls back to https://localhost:18475/. Certificates and the trust in
their root: tls.py. Certificate failures are rows of the fault matrix."""
import os

from harness import FALLBACK_NAME, FALLBACK_PATH, Server, check, check_eq, sample_reply, wait_exit

TLS_PORT, DL_PORT = 18474, 18475
TLS_BASE = f"https://localhost:{TLS_PORT}/"   # the test copy's report server
DL_BASE = f"https://localhost:{DL_PORT}/"     # the test copy's fallback download host
BUILD = "stub-tls.exe"
FULL_RUN = ["Info", "one", "frmLoad", "BeginDown", "DownFinish=OK"]


def report_server(env, reply="", tls="localhost", **kw):
    return Server(env, reply, port=TLS_PORT, tls=tls, **kw)


def download_host(env, tls="localhost", **kw):
    """The second TLS server: by default it holds the built-in download."""
    return Server(env, port=DL_PORT, tls=tls, **kw)


def run_tls_stub(env, timeout=60):
    check_eq(wait_exit(env.start_stub(build=BUILD), timeout), 0, "exit code")


def short(data):
    return [d.split(":")[0] if d.startswith("DownFinish=") else d for d in data]


def installed(env, name=FALLBACK_NAME):
    return os.path.exists(env.path("C:\\Temp\\" + name + ".ran"))


def test_tls_full_run_exchange_reports_download_launch(env):
    url = TLS_BASE + FALLBACK_PATH
    with report_server(env, sample_reply(env, url=url)) as server:
        run_tls_stub(env)
        data = server.data()
        events = server.events()
        files = server.file_requests()
    check_eq(short(data), FULL_RUN, "reports over TLS")
    info = events[0]
    check(info["target"].startswith("/?Key=Info&TimeID="), f"the query as over plain HTTP: {info['target']!r}")
    # url= keeps the scheme of a TLS download, so the server can tell it from a plain one.
    check(data[-1].endswith(" url=" + url), f"the download address in the report: {data[-1]!r}")
    check_eq(len(files), 1, "one download")
    check(files[0].startswith("/" + FALLBACK_PATH + "?"), f"the download's target: {files[0]!r}")
    check(installed(env), "the installer was verified and started")


def test_tls_installer_on_a_second_tls_server(env):
    url = DL_BASE + "setup/korvel-setup.exe"
    sample = open(env.sample, "rb").read()
    with report_server(env, sample_reply(env, url=url)) as server, \
            download_host(env, files={"setup/korvel-setup.exe": sample}, installer=False) as dl:
        run_tls_stub(env)
        data = server.data()
        files = dl.file_requests()
    check_eq(short(data), FULL_RUN, "reports")
    check(data[-1].endswith(" url=" + url), f"the download address in the report: {data[-1]!r}")
    check_eq([f.split("?")[0] for f in files], ["/setup/korvel-setup.exe"], "the second server served it")
    check(installed(env, "korvel-setup.exe"), "the installer was verified and started")
