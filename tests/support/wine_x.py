"""Helpers for end-to-end tests that drive the programs under Wine from the Linux side: a private
X display per test (so that no other test's window lies over the one looked at), screenshots,
window lookup and real input through xdotool, a recording HTTP proxy on loopback, and paths in
the build's Wine prefix. WINEPREFIX and the other Wine settings come from the environment."""
import http.server
import os
import pathlib
import shutil
import subprocess
import threading
import time


def prefix_dir(name):
    """A fresh, empty folder C:\\kvtest\\<name>\\ of the prefix, as a Linux path."""
    folder = pathlib.Path(os.environ["WINEPREFIX"]) / "drive_c" / "kvtest" / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


class PrivateDisplay:
    """An Xvfb display of its own, 1280 x 800, for the life of the with-block."""

    def __enter__(self):
        n = 300 + os.getpid() % 200
        while os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
            n += 1
        self.name = f":{n}"
        self.process = subprocess.Popen(
            ["Xvfb", self.name, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                break
            time.sleep(0.05)
        else:
            raise RuntimeError("Xvfb did not start")
        self.env = dict(os.environ, DISPLAY=self.name)
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        self.process.wait(10)

    def run(self, args, **kwargs):
        return subprocess.run(args, env=self.env, capture_output=True, text=True, **kwargs)

    def screenshot(self, path):
        pathlib.Path(path).parent.mkdir(parents=True, exist_ok=True)
        self.run(["import", "-window", "root", str(path)], check=True, timeout=30)

    def windows(self, name):
        """Visible windows whose name contains name: a list of (id, x, y, w, h)."""
        found = []
        ids = self.run(["xdotool", "search", "--onlyvisible", "--name", name], timeout=10)
        for wid in ids.stdout.split():
            geo = self.run(["xdotool", "getwindowgeometry", "--shell", wid], timeout=10).stdout
            values = dict(line.split("=", 1) for line in geo.split() if "=" in line)
            try:
                found.append((wid, int(values["X"]), int(values["Y"]), int(values["WIDTH"]),
                              int(values["HEIGHT"])))
            except KeyError:
                pass  # gone between the two calls
        return found

    def click(self, x, y):
        self.run(["xdotool", "mousemove", str(x), str(y)], check=True, timeout=10)
        time.sleep(0.1)
        self.run(["xdotool", "click", "1"], check=True, timeout=10)


def region_means(png, x, y, w, h):
    """Mean red, green, blue (0..1) and standard deviation of a rectangle of a picture."""
    out = subprocess.run(
        ["convert", str(png), "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-format",
         "%[fx:mean.r] %[fx:mean.g] %[fx:mean.b] %[fx:standard_deviation]", "info:"],
        capture_output=True, text=True, check=True).stdout
    return [float(v) for v in out.split()]


def crop(png, x, y, w, h, out):
    subprocess.run(["convert", str(png), "-crop", f"{w}x{h}+{x}+{y}", "+repage", str(out)],
                   check=True)


class RecordingProxy:
    """An HTTP proxy on 127.0.0.1 that answers every request itself and records its target (the
    absolute URL a client sends to a proxy). Nothing leaves the machine."""

    def __init__(self):
        self.targets = []
        lock = threading.Lock()
        targets = self.targets

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                with lock:
                    targets.append(self.path)
                body = b"ok"
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()

    def proxy_dat(self):
        """proxy.dat naming this proxy: enabled, host, port, no credentials (428 bytes)."""
        def field(text, chars):
            data = text.encode("utf-16-le")
            return data + bytes(chars * 2 - len(data))
        return ((1).to_bytes(4, "little") + field("127.0.0.1", 100) +
                field(str(self.port), 12) + field("", 50) + field("", 50))
