#!/usr/bin/env python3
"""The uninstaller as a person meets it, under the test display.

Installs a product into the build's Wine prefix (files, uninstall key, Start Menu folder, desktop
and listed shortcuts, kvUninstall.dat, the uninstaller with zlib1.dll, and a proxy.dat that points
at a loopback proxy started here), starts kvUninstall.exe from the installation, finds its window
by caption, clicks with real input through the X server, and checks what is left afterwards and
which reports the proxy saw. Screenshots go to the artifacts folder.

    window_e2e.py BIN_DIR ARTIFACTS_DIR folder|list|cancel|noname
"""
import http.server
import os
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

CAPTION = "栎禾软件-卸载程序"
WIDTH, HEIGHT = 450, 230
UNINSTALL_BUTTON = (255 + 34, 148 + 14)
CANCEL_BUTTON = (325 + 34, 148 + 14)
QUESTION_BOX = (35, 146, 210, 30)
UNINSTALL_ROOT = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"

failures = []


def check(condition, what):
    print(("ok:   " if condition else "FAIL: ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


# ---- The build's Wine prefix ----

def wine(*args, cwd=None):
    result = subprocess.run(["wine", *args], cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    return result.returncode, result.stdout.decode("utf-8", "replace").replace("\r", "").strip()


def unix_path(win_path):
    out = subprocess.run(["winepath", "-u", win_path], stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    return out.stdout.decode("utf-8").strip()


def key_exists(key):
    return wine("reg", "query", key)[0] == 0


# ---- The loopback proxy ----

class Proxy(http.server.ThreadingHTTPServer):
    def __init__(self):
        super().__init__(("127.0.0.1", 0), ProxyHandler)
        self.requests = []
        self.lock = threading.Lock()
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def reports(self):
        """(type, value, uuid) of every report seen, in arrival order."""
        with self.lock:
            targets = list(self.requests)
        out = []
        for target in targets:
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(target).query,
                                          keep_blank_values=True)
            out.append((query.get("type", [""])[0], query.get("value", [""])[0],
                        query.get("uuid", [""])[0]))
        return out


class ProxyHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        with self.server.lock:
            self.server.requests.append(self.path)
        body = b"ok"
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def proxy_dat(port):
    def field(text, size):
        return text.encode("utf-16-le").ljust(size, b"\0")
    data = struct.pack("<i", 1) + field("127.0.0.1", 200) + field(str(port), 24)
    data += field("", 100) + field("", 100)
    assert len(data) == 428
    return data


# ---- The product's footprint ----

class Product:
    def __init__(self, bin_dir, name, mode, proxy_port, with_record=True):
        self.bin = bin_dir
        self.name = name
        self.mode = mode
        self.key = "BrixE2E" + mode.capitalize()
        self.root_win = "C:\\kvtest\\e2e_" + mode + "\\"
        self.root = unix_path(self.root_win)
        subprocess.run(["rm", "-rf", self.root])
        if mode == "list":
            self.install_win = self.root_win + "app\\"
            self.listed_folder_win = self.root_win + "product files\\"
            self.listed_file_win = self.root_win + "loose.txt"
        else:
            self.install_win = self.root_win + name + "\\"
        self.install = unix_path(self.install_win)
        os.makedirs(self.install)
        self.exe = os.path.join(self.install, "kvUninstall.exe")
        for program in ("kvUninstall.exe", "zlib1.dll"):
            subprocess.run(["cp", os.path.join(bin_dir, program), self.install], check=True)
        with open(os.path.join(self.install, "proxy.dat"), "wb") as f:
            f.write(proxy_dat(proxy_port))

        data_root = self.install if mode != "list" else unix_path(self.listed_folder_win)
        self.files = []
        for rel in ("bin/brix.exe", "data/maps/map1.dat", "data/maps/map2.dat", "docs/readme.txt"):
            path = os.path.join(data_root, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write("content of " + rel + "\n")
            self.files.append(path)
        if mode == "list":
            self.loose = unix_path(self.listed_file_win)
            with open(self.loose, "w") as f:
                f.write("listed on its own\n")
            self.files.append(self.loose)

        self.uninstall_key = UNINSTALL_ROOT + "\\" + self.key
        wine("reg", "add", self.uninstall_key, "/v", "DisplayName", "/d", name, "/f")
        target = self.install_win + "kvUninstall.exe"
        self.menu_win = wine(os.path.join(bin_dir, "kvshortcut.exe"), "folder", "programs")[1]
        self.menu_win += "\\" + name
        desktop_win = wine(os.path.join(bin_dir, "kvshortcut.exe"), "folder", "desktop")[1]
        quick_win = wine(os.path.join(bin_dir, "kvshortcut.exe"), "folder", "quicklaunch")[1]
        shortcut = os.path.join(bin_dir, "kvshortcut.exe")
        wine(shortcut, "create", self.menu_win, name, target)
        wine(shortcut, "create", self.menu_win, "Uninstall " + name, target)
        wine(shortcut, "create", desktop_win, name, target)
        wine(shortcut, "create", quick_win, name, target)
        self.menu = unix_path(self.menu_win)
        os.makedirs(os.path.join(self.menu, "Extras"), exist_ok=True)
        with open(os.path.join(self.menu, "Extras", "Manual.txt"), "w") as f:
            f.write("manual\n")
        self.desktop_link = unix_path(desktop_win + "\\" + name + ".lnk")
        self.listed_link_win = quick_win + "\\" + name + ".lnk"
        self.listed_link = unix_path(self.listed_link_win)

        if with_record:
            self.write_record()

    def write_record(self):
        args = ["write", self.install_win + "kvUninstall.dat", "--key", self.key, "--name",
                self.name, "--menu", self.name, "--shortcut", self.listed_link_win]
        if self.mode == "list":
            args += ["--folder", self.listed_folder_win, "--file", self.listed_file_win]
        else:
            args += ["--dir", self.install_win]
        rc, out = wine(os.path.join(self.bin, "kvrecord.exe"), *args)
        assert rc == 0, out

    def traces(self):
        """Everything of the product that is still there, one description each."""
        left = [p for p in self.files if os.path.exists(p)]
        if os.path.exists(self.exe):
            left.append(self.exe)
        if self.mode != "list" and os.path.isdir(self.install):
            left.append(self.install)
        if key_exists(self.uninstall_key):
            left.append(self.uninstall_key)
        for path in (self.menu, self.desktop_link, self.listed_link):
            if os.path.exists(path):
                left.append(path)
        return left


def clear_bat():
    return unix_path("C:\\clear.bat")


# ---- The window ----

def xdotool(*args):
    out = subprocess.run(["xdotool", *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=30)
    return out.stdout.decode("utf-8", "replace").strip()


def screen_size():
    w, h = xdotool("getdisplaygeometry").split()
    return int(w), int(h)


def geometry(window):
    values = {}
    for line in xdotool("getwindowgeometry", "--shell", window).splitlines():
        k, _, v = line.partition("=")
        values[k] = int(v) if v.lstrip("-").isdigit() else v
    return values.get("X"), values.get("Y"), values.get("WIDTH"), values.get("HEIGHT")


def find_window(process, timeout=30):
    """The visible window with the caption, once it has come to rest."""
    deadline = time.time() + timeout
    window, last, still = None, None, 0
    while time.time() < deadline and process.poll() is None:
        ids = xdotool("search", "--onlyvisible", "--name", CAPTION).split()
        if ids:
            window = ids[-1]
            rect = geometry(window)
            still = still + 1 if rect == last else 0
            last = rect
            if still >= 3:
                return window, rect
        time.sleep(0.1)
    return window, last


def screenshot(artifacts, name, rect):
    x, y, w, h = rect
    path = os.path.join(artifacts, name)
    whole = path + ".whole.png"
    subprocess.run(["import", "-window", "root", whole], check=True, timeout=60)
    margin = 20
    subprocess.run(["convert", whole, "-crop",
                    f"{w + 2 * margin}x{h + 2 * margin}+{max(0, x - margin)}+{max(0, y - margin)}",
                    "+repage", path], check=True, timeout=60)
    os.remove(whole)
    print("screenshot: " + path, flush=True)
    return path


def text_width(shot, rect):
    """Width of the question's ink inside its box, from a screenshot cropped with a 20 margin."""
    x, y, w, h = QUESTION_BOX
    out = subprocess.run(["convert", shot, "-crop", f"{w}x{h}+{x + 20}+{y + 20}", "+repage",
                          "-fuzz", "25%", "-trim", "-format", "%w", "info:"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    try:
        return int(out.stdout.decode().strip() or 0)
    except ValueError:
        return 0


def click(rect, point):
    x, y = rect[0] + point[0], rect[1] + point[1]
    xdotool("mousemove", str(x), str(y))
    time.sleep(0.4)  # the hover picture
    xdotool("click", "1")


def launch(product):
    return subprocess.Popen(["wine", product.exe], cwd=product.install, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def open_window(process, artifacts, shot_name):
    window, rect = find_window(process)
    if not check(window is not None, "the window with the caption " + CAPTION + " appears"):
        return None
    sw, sh = screen_size()
    check(rect[2:] == (WIDTH, HEIGHT), f"it is {WIDTH} x {HEIGHT} (got {rect[2]} x {rect[3]})")
    check(rect[:2] == ((sw - WIDTH) // 2, (sh - HEIGHT) // 2),
          f"it is centred on the {sw} x {sh} screen (at {rect[0]}, {rect[1]})")
    time.sleep(0.3)
    screenshot(artifacts, shot_name, rect)
    return rect


def wait_exit(process, timeout=90):
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        return None


def wait_gone(product, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if not product.traces() and not os.path.exists(clear_bat()):
            break
        time.sleep(0.3)
    return product.traces()


# ---- The runs ----

def run_uninstall(bin_dir, artifacts, mode, proxy):
    name = "Brix 积木" if mode == "folder" else "Brix List"
    product = Product(bin_dir, name, mode, proxy.server_address[1])
    installed = product.traces()
    check(len(installed) == len(product.files) + (5 if mode == "list" else 6),
          f"the product is installed: {len(installed)} traces")
    process = launch(product)
    rect = open_window(process, artifacts, f"{mode}_1_question.png")
    if rect is None:
        process.kill()
        return
    click(rect, UNINSTALL_BUTTON)
    time.sleep(1.0)
    screenshot(artifacts, f"{mode}_2_progress.png", rect)
    code = wait_exit(process)
    check(code == 0, f"the process ends with exit code 0 (got {code})")
    left = wait_gone(product)
    check(left == [], "every trace of the product is gone: " + (", ".join(left) or "nothing left"))
    if mode == "list":
        check(os.path.exists(os.path.join(product.install, "kvUninstall.dat")),
              "list mode leaves the uninstaller's folder alone but for the program")
    check(not os.path.exists(clear_bat()), "c:\\clear.bat has deleted itself")

    reports = proxy.reports()
    print("reports: " + repr(reports), flush=True)
    types = [r[0] for r in reports]
    check(types == ["open", "uninstall"], f"the proxy saw open, then uninstall (saw {types})")
    if len(reports) == 2:
        check(reports[0][1] == "Brix_Uninstall", "open carries Brix_Uninstall")
        check(reports[1][1] == name, f"uninstall carries the display name {name}")
        check(len(reports[0][2]) == 20 and reports[0][2] == reports[1][2],
              "both carry the same 20-character uuid")


def run_cancel(bin_dir, artifacts, proxy):
    product = Product(bin_dir, "Brix Cancel", "cancel", proxy.server_address[1])
    before = product.traces()
    process = launch(product)
    rect = open_window(process, artifacts, "cancel_1_question.png")
    if rect is None:
        process.kill()
        return
    click(rect, CANCEL_BUTTON)
    code = wait_exit(process, 30)
    check(code == 0, f"cancel ends the process with exit code 0 (got {code})")
    time.sleep(1.0)
    check(product.traces() == before, "nothing is removed")
    check(os.path.isdir(product.install), "the installation folder stays")
    types = [r[0] for r in proxy.reports()]
    check("uninstall" not in types, f"no uninstall report (saw {types})")
    check(types.count("open") == 1, "one open report")
    subprocess.run(["rm", "-rf", product.root])
    wine("reg", "delete", product.uninstall_key, "/f")
    for path in (product.desktop_link, product.listed_link):
        if os.path.exists(path):
            os.remove(path)
    subprocess.run(["rm", "-rf", product.menu])


def run_noname(bin_dir, artifacts, proxy):
    product = Product(bin_dir, "Brix Named Product", "noname", proxy.server_address[1],
                      with_record=False)
    widths = []
    for shot, record in (("noname_1_question.png", False), ("noname_2_named.png", True)):
        if record:
            product.write_record()
        process = launch(product)
        rect = open_window(process, artifacts, shot)
        if rect is None:
            process.kill()
            return
        widths.append(text_width(os.path.join(artifacts, shot), rect))
        click(rect, CANCEL_BUTTON)
        code = wait_exit(process, 30)
        check(code == 0, f"cancel ends the process with exit code 0 (got {code})")
    print(f"question widths: without record {widths[0]}, with record {widths[1]}", flush=True)
    check(widths[0] > 40, "without kvUninstall.dat the question is still drawn")
    check(widths[1] > widths[0] + 40, "and it is shorter than with a named product: the name is empty")
    check(os.path.exists(product.exe), "nothing was removed")
    subprocess.run(["rm", "-rf", product.root])
    wine("reg", "delete", product.uninstall_key, "/f")
    for path in (product.desktop_link, product.listed_link):
        if os.path.exists(path):
            os.remove(path)
    subprocess.run(["rm", "-rf", product.menu])


def main():
    bin_dir, artifacts, mode = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(artifacts, exist_ok=True)
    if not os.environ.get("DISPLAY"):
        print("SKIPPED: no X display for the window")
        return 0
    proxy = Proxy()
    try:
        if mode in ("folder", "list"):
            run_uninstall(bin_dir, artifacts, mode, proxy)
        elif mode == "cancel":
            run_cancel(bin_dir, artifacts, proxy)
        elif mode == "noname":
            run_noname(bin_dir, artifacts, proxy)
        else:
            print("unknown mode " + mode)
            return 2
    finally:
        proxy.shutdown()
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
