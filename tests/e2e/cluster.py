"""Two report-servers on one PostgreSQL database behind nginx on the stub's
address, for the scenarios that need several servers.

The cluster comes from scripts/lib/pg.sh (PG_SOCKET in the environment); each
Cluster gets a fresh database, its own spools and its own nginx.
"""
import os
import subprocess
import time
import uuid

from harness import PORT, Failure, Server

BACKENDS = (18481, 18482)
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PG_BIN = "/usr/lib/postgresql/15/bin"

NGINX_CONF = """
worker_processes 1;
pid {dir}/nginx.pid;
error_log {dir}/error.log;
daemon off;
events {{ worker_connections 1024; }}
http {{
  log_format upstream '$upstream_addr $status';
  access_log {dir}/access.log upstream;
  client_body_temp_path {dir}/tmp/body;
  proxy_temp_path {dir}/tmp/proxy;
  fastcgi_temp_path {dir}/tmp/fastcgi;
  uwsgi_temp_path {dir}/tmp/uwsgi;
  scgi_temp_path {dir}/tmp/scgi;
  upstream servers {{
    server 127.0.0.1:{a};
    server 127.0.0.1:{b};
    keepalive 32;
  }}
  server {{
    listen 127.0.0.1:{port};
    location / {{
      proxy_pass http://servers;
      proxy_http_version 1.1;
      proxy_set_header Connection "";
      proxy_buffering off;
      # A retry on the other server would record a request twice.
      proxy_next_upstream off;
      proxy_read_timeout 300s;
    }}
  }}
}}
"""


def pg_socket():
    socket = os.environ.get("PG_SOCKET")
    if not socket:
        raise Failure("no PostgreSQL cluster (PG_SOCKET); run through scripts/test or scripts/e2e")
    return socket


def pg(command, build):
    """pg_stop or pg_resume on the scratch cluster."""
    subprocess.run(["bash", "-c", f'source "{ROOT}/scripts/lib/pg.sh" && {command} "$1"', "pg",
                    build], check=True, stdin=subprocess.DEVNULL)


def start_nginx(folder, port, backends):
    os.makedirs(os.path.join(folder, "tmp"), exist_ok=True)
    os.chmod(os.path.join(folder, "tmp"), 0o777)
    conf = os.path.join(folder, "nginx.conf")
    with open(conf, "w") as f:
        f.write(NGINX_CONF.format(dir=folder, port=port, a=backends[0], b=backends[1]))
    proc = subprocess.Popen(["/usr/sbin/nginx", "-c", conf, "-p", folder, "-e",
                             os.path.join(folder, "error.log")],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    wait_port(port, proc)
    return proc


def wait_port(port, proc, seconds=10):
    import socket
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if proc.poll() is not None:
            raise Failure(f"process for port {port} ended early")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise Failure(f"nothing listens on port {port}")


def stop(proc):
    if proc and proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class Cluster(Server):
    """Server's interface over nginx and two report-servers on PostgreSQL."""

    def __init__(self, env, reply="", files=None, options=(), installer=True):
        super().__init__(env, reply, files, options, installer)
        socket = pg_socket()
        name = "e2e_" + uuid.uuid4().hex[:12]
        subprocess.run([os.path.join(PG_BIN, "createdb"), "-h", socket, "-U", "postgres", name],
                       check=True, stdin=subprocess.DEVNULL)
        self.db = f"postgresql:///{name}?host={socket}&user=postgres"
        self.procs = []
        self.nginx = None

    def __enter__(self):
        os.chmod(self.dir, 0o755)
        for i, port in enumerate(BACKENDS):
            proc = subprocess.Popen(
                [os.path.join(self.env.host_bin, "report-server"), "--listen", f"127.0.0.1:{port}",
                 "--db", self.db, "--spool", os.path.join(self.dir, f"spool{i}"),
                 "--reply", self.reply, "--files", self.files, *self.options],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                text=True)
            self.procs.append(proc)
            line = proc.stdout.readline()
            if "listening" not in line:
                self.__exit__()
                raise Failure(f"report-server did not start: {line!r}")
        self.nginx = start_nginx(os.path.join(self.dir, "nginx"), PORT, BACKENDS)
        return self

    def __exit__(self, *exc):
        stop(self.nginx)
        for proc in self.procs:
            stop(proc)
        import shutil
        shutil.rmtree(self.dir, ignore_errors=True)

    def answered_by(self):
        """How many requests nginx passed to each report-server."""
        counts = {}
        with open(os.path.join(self.dir, "nginx", "access.log")) as f:
            for line in f:
                addr = line.split()[0]
                counts[addr] = counts.get(addr, 0) + 1
        return counts
