"""Two report-servers on one PostgreSQL database behind nginx: stubs and
direct clients spread over both, and a database outage in the middle of a
load. Nothing may be lost or recorded twice."""
import http.client
import threading
import time

from cluster import Cluster, pg
from harness import PORT, check, check_eq, sample_reply, wait_exit
from scenarios_start import check_full_run


def send_reports(prefix, count, answers, deadline, pause):
    """Sends `count` reports on one kept-alive connection, `pause` seconds
    apart; records each status."""
    conn = http.client.HTTPConnection("127.0.0.1", PORT, timeout=60)
    for i in range(count):
        if time.monotonic() > deadline:
            break
        time.sleep(pause)
        try:
            conn.request("GET", f"/?Key=Setup&Data={prefix}-{i}&TimeID=20240501083000")
            res = conn.getresponse()
            res.read()
            answers.append(res.status)
        except (OSError, http.client.HTTPException):
            answers.append(0)
            conn.close()
            conn = http.client.HTTPConnection("127.0.0.1", PORT, timeout=60)
    conn.close()


def load(threads, each, answers, pause=0, seconds=120):
    deadline = time.monotonic() + seconds
    workers = [threading.Thread(target=send_reports,
                                args=(f"c{t}", each, answers, deadline, pause))
               for t in range(threads)]
    for w in workers:
        w.start()
    return workers


def check_each_once(server, threads, each):
    data = [e["Data"] for e in server.events() if e["Key"] == "Setup"]
    direct = [d for d in data if d.startswith("c") and "-" in d]
    check_eq(len(direct), threads * each, "direct reports recorded")
    check_eq(len(set(direct)), threads * each, "distinct direct reports")


def test_cluster_stubs_and_clients_spread_over_two_servers(env):
    threads, each = 6, 40
    with Cluster(env, sample_reply(env)) as cluster:
        answers = []
        workers = load(threads, each, answers)
        proc = env.start_stub("setup.exe")
        check_eq(wait_exit(proc, 90), 0, "stub exit code")
        for w in workers:
            w.join()
        check_eq(answers, [200] * (threads * each), "answers to direct clients")
        check_each_once(cluster, threads, each)
        # The stub's own requests, in order, with the direct reports left out.
        stub_only = [e for e in cluster.events() if not (e["Data"] or "").startswith("c")]
        check_eq(len([e for e in stub_only if e["Key"] == "Info"]), 1, "Info requests")

        class View:  # check_full_run reads the stub's requests through data()
            def data(self):
                return ["Info" if e["Key"] == "Info" else e["Data"]
                        for e in stub_only if e["Key"] is not None]

            def file_requests(self):
                return [e["target"] for e in stub_only if e["Key"] is None]
        check_full_run(env, View())
        served = cluster.answered_by()
        check(len(served) == 2 and min(served.values()) > 0, f"both servers answered: {served}")


def test_cluster_database_outage_loses_nothing(env):
    threads, each = 8, 150
    with Cluster(env, sample_reply(env)) as cluster:
        answers = []
        # Paced so that the load lasts beyond the outage (about 6 s).
        workers = load(threads, each, answers, pause=0.04)
        deadline = time.monotonic() + 60
        while len(answers) < threads * each // 4 and time.monotonic() < deadline:
            time.sleep(0.05)
        pg("pg_stop", env.build)
        try:
            during = len(answers)
            time.sleep(3)
            check(len(answers) > during, "reports answered while the database is away")
        finally:
            pg("pg_resume", env.build)
        for w in workers:
            w.join()
        check_eq(answers, [200] * (threads * each), "every report answered")
        # The spools are written back in the background; wait for them.
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if len([e for e in cluster.events() if e["Key"] == "Setup"]) >= threads * each:
                break
            time.sleep(0.5)
        check_each_once(cluster, threads, each)
