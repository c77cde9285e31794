"""A loopback web server that redirects GET /to/ADDRESS to ADDRESS and answers anything else with 200, keeping
the targets asked for in `requests` (ctest's win-servers fixture runs one too)."""
import contextlib
import http.server
import ssl
import threading

class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.server.requests.append(self.path)
        to = self.path.startswith("/to/") and self.path[4:]
        self.send_response(302 if to else 200)
        to and self.send_header("Location", to)
        self.send_header("Content-Length", "10")
        self.end_headers()
        self.wfile.write(b"redirector")

    log_message = lambda self, *args: None  # noqa: E731  quiet

@contextlib.contextmanager
def redirector(port, cert=None):  # over TLS with `cert`, a PEM file with its key beside it as .key
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.requests, server.daemon_threads = [], True
    if cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, cert[:-len(".pem")] + ".key")
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield server
    finally:
        server.shutdown()
        server.server_close()
