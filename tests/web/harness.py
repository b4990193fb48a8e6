"""The page's test bed: the simulated modem, a configuration file and a real web server
(lighttpd) on 127.0.0.1 that serves the page and runs the bridge as CGI.

Paths come from the environment (CTest sets them): ATSMS_PATH, ATSMS_WEB_PATH, MODEM_SIM_PATH
and ATSMS_SOURCE_DIR (the repository, for web/)."""

import base64
import os
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

USER, PASSWORD = "admin", "s3cret"


def required(name):
    value = os.environ.get(name)
    if not value:
        raise SystemExit(f"{name} is not set (run this test through ctest)")
    return value


def wait_for(condition, what, timeout=20.0):
    """Polls condition() until it returns something true; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.02)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class TestBed:
    """modem-sim with store_text as its storage (and sim_options), the configuration file, and
    lighttpd. open_page: the configuration says open '1' and nothing asks for a password;
    otherwise lighttpd runs with the lighttpd example the Debian package ships (Basic
    authentication on /atsms/ and /cgi-bin/atsms-web, USER and PASSWORD), and /plain/atsms-web
    is the same bridge where the server authenticates nobody."""

    def __init__(self, store_text="", sim_options=(), open_page=True, quick=True):
        self.dir = tempfile.mkdtemp(prefix="atsms-web-")
        self.sim = self.server = None
        try:
            self._start(store_text, sim_options, open_page, quick)
        except BaseException:
            self.stop()
            raise

    def _start(self, store_text, sim_options, open_page, quick):
        source = required("ATSMS_SOURCE_DIR")
        self.log = os.path.join(self.dir, "modem.log")
        store = os.path.join(self.dir, "store.txt")
        with open(store, "w", encoding="utf-8") as f:
            f.write(store_text)
        self.sim = subprocess.Popen(
            [required("MODEM_SIM_PATH"), "--store", store, "--log", self.log, *sim_options],
            stdout=subprocess.PIPE, text=True)
        self.port = self.sim.stdout.readline().strip()
        if not self.port.startswith("/dev/"):
            raise AssertionError(f"modem-sim gave no port: {self.port!r}")
        self.atsms_path = required("ATSMS_PATH")

        self.config = os.path.join(self.dir, "atsms.conf")
        with open(self.config, "w") as f:
            f.write(f"config modem 'test'\n\toption port '{self.port}'\n\toption wait '10'\n"
                    f"\toption quick '{1 if quick else 0}'\n\n"
                    f"config web 'web'\n\toption modem 'test'\n\toption open '{1 if open_page else 0}'\n"
                    f"\toption atsms '{self.atsms_path}'\n")

        root = os.path.join(self.dir, "www")
        for sub in ("atsms", "cgi-bin", "plain"):
            os.makedirs(os.path.join(root, sub))
        for name in ("index.html", "atsms.js", "atsms.css"):
            os.symlink(os.path.join(source, "web", name), os.path.join(root, "atsms", name))
        bridge = required("ATSMS_WEB_PATH")
        os.symlink(bridge, os.path.join(root, "cgi-bin", "atsms-web"))
        os.symlink(bridge, os.path.join(root, "plain", "atsms-web"))
        users = os.path.join(self.dir, "users")
        with open(users, "w") as f:
            f.write(f"{USER}:{PASSWORD}\n")
        self.http_port = free_port()
        modules = ""  # as Debian's lighttpd.conf loads them; the example adds its own
        if open_page:
            modules = ', "mod_cgi"'
            site = 'cgi.assign = ("/atsms-web" => "")\n'
        else:
            # The shipped example, its paths pointed at this bed.
            with open(os.path.join(source, "packaging", "web", "lighttpd-atsms-web.conf")) as f:
                example = f.read().replace("/usr/share/atsms/www", root).replace("/etc/lighttpd/atsms.user", users)
            with open(os.path.join(self.dir, "example.conf"), "w") as f:
                f.write(example)
            site = (f'include "{self.dir}/example.conf"\n'
                    '$HTTP["url"] =~ "^/plain/" { cgi.assign = ("" => "") }\n')
        conf = os.path.join(self.dir, "lighttpd.conf")
        with open(conf, "w") as f:
            f.write(f"""server.document-root = "{root}"
server.bind = "127.0.0.1"
server.port = {self.http_port}
server.modules = ("mod_indexfile", "mod_access", "mod_alias", "mod_redirect", "mod_setenv"{modules})
server.errorlog = "{self.dir}/lighttpd.log"
server.pid-file = "{self.dir}/lighttpd.pid"
index-file.names = ("index.html")
mimetype.assign = (".html" => "text/html; charset=utf-8", ".js" => "text/javascript; charset=utf-8",
                   ".css" => "text/css; charset=utf-8")
setenv.add-environment = ("ATSMS_CONFIG" => "{self.config}")
{site}""")
        lighttpd = shutil.which("lighttpd") or "/usr/sbin/lighttpd"
        self.server = subprocess.Popen([lighttpd, "-D", "-f", conf], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE)

        def listening():
            if self.server.poll() is not None:
                raise AssertionError("lighttpd ended: " + self.server.stderr.read().decode())
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", self.http_port)) == 0
        wait_for(listening, "lighttpd to listen")
        self.base = f"http://127.0.0.1:{self.http_port}"
        self.page = self.base + "/atsms/"

    def commands(self):
        """The command lines the simulated modem received, in order."""
        try:
            with open(self.log, encoding="utf-8", errors="replace") as f:
                return [line.split(" <- ", 1)[1].rstrip("\n") for line in f if " <- " in line]
        except FileNotFoundError:
            return []

    def modem_log(self):
        try:
            with open(self.log, encoding="utf-8", errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def request(self, path, method="GET", body=None, headers=None, auth=True):
        """(HTTP status, the answer's bytes) of one request to the server."""
        headers = dict(headers or {})
        if auth:
            token = base64.b64encode(f"{USER}:{PASSWORD}".encode()).decode()
            headers.setdefault("Authorization", "Basic " + token)
        req = urllib.request.Request(self.base + path, data=body, method=method, headers=headers)
        try:
            with urllib.request.urlopen(req, timeout=60) as response:
                return response.status, response.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def atsms(self, *args):
        """Runs atsms itself against the simulated modem (to change the storage behind the page)."""
        return subprocess.run([self.atsms_path, "-q", self.port, *args], capture_output=True, text=True, timeout=60)

    def stop(self):
        for process in (self.server, self.sim):
            if process and process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        for stream in (getattr(self.sim, "stdout", None), getattr(self.server, "stderr", None)):
            if stream:
                stream.close()
        shutil.rmtree(self.dir, ignore_errors=True)
