#!/usr/bin/env python3
"""The uninstaller as a person meets it: a product installed into the build's prefix, real clicks
through the X server, then what is left and which reports a loopback proxy saw.
Usage: window_e2e.py BIN_DIR ARTIFACTS_DIR folder|list|cancel|noname|inuse"""
import http.server
import os
import shutil
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

CAPTION = "栎禾软件-卸载程序"
WIDTH, HEIGHT = 450, 230
UNINSTALL_BUTTON, CANCEL_BUTTON = (255 + 34, 148 + 14), (325 + 34, 148 + 14)
QUESTION_BOX = (35, 146, 210, 30)
UNINSTALL_ROOT = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
failures = []


def check(condition, what):
    print(("ok:   " if condition else "FAIL: ") + what, flush=True)
    if not condition:
        failures.append(what)


def run(*args, timeout=120):
    out = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=timeout)
    return out.returncode, out.stdout.decode("utf-8", "replace").replace("\r", "").strip()


def wine(*args):
    return run("wine", *args)


def unix_path(win_path):
    return run("winepath", "-u", win_path)[1]


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def start_proxy():
    """A loopback proxy that answers "ok" and records every request's target."""
    requests = []

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def do_GET(self):
            requests.append(self.path)
            self.send_response(200)
            self.send_header("Content-Length", "2")
            self.end_headers()
            self.wfile.write(b"ok")

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.requests = requests
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def reports(proxy):
    """(type, value, uuid) of every report seen, in arrival order."""
    queries = [urllib.parse.parse_qs(urllib.parse.urlsplit(t).query, keep_blank_values=True)
               for t in list(proxy.requests)]
    return [tuple(q.get(k, [""])[0] for k in ("type", "value", "uuid")) for q in queries]


def proxy_dat(port):
    def field(text, size):
        return text.encode("utf-16-le").ljust(size, b"\0")
    data = struct.pack("<i", 1) + field("127.0.0.1", 200) + field(str(port), 24) + bytes(200)
    assert len(data) == 428
    return data


class Product:
    """A product's whole footprint in the prefix; in list mode its files live outside the
    uninstaller's folder and are listed one by one."""
    def __init__(self, bin_dir, name, mode, proxy_port, with_record=True):
        self.bin, self.name, self.mode = bin_dir, name, mode
        self.key = "BrixE2E" + mode.capitalize()
        root_win = "C:\\kvtest\\e2e_" + mode + "\\"
        self.root = unix_path(root_win)
        shutil.rmtree(self.root, ignore_errors=True)
        listed = mode == "list"
        self.install_win = root_win + ("app\\" if listed else name + "\\")
        self.listed_folder_win = root_win + "product files\\"
        self.listed_file_win = root_win + "loose.txt"
        self.install = unix_path(self.install_win)
        os.makedirs(self.install)
        self.exe = os.path.join(self.install, "kvUninstall.exe")
        for program in ("kvUninstall.exe", "zlib1.dll"):
            shutil.copy(os.path.join(bin_dir, program), self.install)
        with open(os.path.join(self.install, "proxy.dat"), "wb") as f:
            f.write(proxy_dat(proxy_port))
        data_root = unix_path(self.listed_folder_win) if listed else self.install
        self.files = [os.path.join(data_root, rel) for rel in
                      ("bin/brix.exe", "data/maps/map1.dat", "data/maps/map2.dat",
                       "docs/readme.txt")]
        self.files += [unix_path(self.listed_file_win)] if listed else []
        for path in self.files:
            write(path, "content of " + path + "\n")

        self.uninstall_key = UNINSTALL_ROOT + "\\" + self.key
        wine("reg", "add", self.uninstall_key, "/v", "DisplayName", "/d", name, "/f")
        shortcut = os.path.join(bin_dir, "kvshortcut.exe")
        menu, desktop, quick = (wine(shortcut, "folder", f)[1]
                                for f in ("programs", "desktop", "quicklaunch"))
        menu += "\\" + name
        for folder, link in ((menu, name), (menu, "Uninstall " + name), (desktop, name),
                             (quick, name)):
            wine(shortcut, "create", folder, link, self.install_win + "kvUninstall.exe")
        self.menu = unix_path(menu)
        write(os.path.join(self.menu, "Extras", "Manual.txt"), "manual\n")
        self.desktop_link = unix_path(desktop + "\\" + name + ".lnk")
        self.listed_link_win = quick + "\\" + name + ".lnk"
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
        """Everything of the product that is still there."""
        left = [p for p in self.files + [self.exe, self.menu, self.desktop_link, self.listed_link]
                if os.path.exists(p)]
        if self.mode != "list" and os.path.isdir(self.install):
            left.append(self.install)
        if wine("reg", "query", self.uninstall_key)[0] == 0:
            left.append(self.uninstall_key)
        return left

    def remove(self):
        for tree in (self.root, self.menu):
            shutil.rmtree(tree, ignore_errors=True)
        wine("reg", "delete", self.uninstall_key, "/f")
        for path in (self.desktop_link, self.listed_link):
            if os.path.exists(path):
                os.remove(path)


def xdotool(*args):
    return run("xdotool", *args, timeout=30)[1]


def find_window(process, timeout=30):
    """The visible window with the caption and its (x, y, w, h), once it has come to rest."""
    deadline = time.time() + timeout
    window, last, still = None, None, 0
    while time.time() < deadline and process.poll() is None and still < 3:
        ids = xdotool("search", "--onlyvisible", "--name", CAPTION).split()
        if ids:
            window = ids[-1]
            values = dict(line.partition("=")[::2] for line in
                          xdotool("getwindowgeometry", "--shell", window).splitlines())
            rect = tuple(int(values.get(k, "0")) for k in ("X", "Y", "WIDTH", "HEIGHT"))
            still, last = (still + 1 if rect == last else 0), rect
        time.sleep(0.1)
    return window, last


def screenshot(artifacts, name, rect, margin=20):
    x, y, w, h = rect
    path = os.path.join(artifacts, name)
    subprocess.run(["import", "-window", "root", path + ".whole.png"], check=True, timeout=60)
    subprocess.run(["convert", path + ".whole.png", "-crop",
                    f"{w + 2 * margin}x{h + 2 * margin}+{max(0, x - margin)}+{max(0, y - margin)}",
                    "+repage", path], check=True, timeout=60)
    os.remove(path + ".whole.png")
    print("screenshot: " + path, flush=True)
    return path


def text_width(shot):
    """Width of the question's ink inside its box, from a screenshot cropped with a 20 margin."""
    x, y, w, h = QUESTION_BOX
    out = run("convert", shot, "-crop", f"{w}x{h}+{x + 20}+{y + 20}", "+repage", "-fuzz", "25%",
              "-trim", "-format", "%w", "info:", timeout=60)[1]
    return int(out) if out.isdigit() else 0


def open_and_click(product, artifacts, shot, button):
    """Starts the uninstaller, checks its window, takes the shot and clicks the button with real
    input; returns the process, or None when no window came."""
    process = subprocess.Popen(["wine", product.exe], cwd=product.install,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    window, rect = find_window(process)
    check(window is not None, "the window with the caption " + CAPTION + " appears")
    if window is None:
        process.kill()
        return None
    sw, sh = (int(v) for v in xdotool("getdisplaygeometry").split())
    check(rect[2:] == (WIDTH, HEIGHT), f"it is {WIDTH} x {HEIGHT} (got {rect[2]} x {rect[3]})")
    check(rect[:2] == ((sw - WIDTH) // 2, (sh - HEIGHT) // 2),
          f"it is centred on the {sw} x {sh} screen (at {rect[0]}, {rect[1]})")
    time.sleep(0.3)
    screenshot(artifacts, shot, rect)
    xdotool("mousemove", str(rect[0] + button[0]), str(rect[1] + button[1]))
    time.sleep(0.4)  # the hover picture
    xdotool("click", "1")
    process.rect = rect
    return process


def exit_code(process, timeout):
    try:
        code = process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        code = None
    check(code == 0, f"the process ends with exit code 0 (got {code})")


def run_uninstall(bin_dir, artifacts, mode, proxy):
    name = "Brix 积木" if mode == "folder" else "Brix List"
    product = Product(bin_dir, name, mode, proxy.server_address[1])
    installed = product.traces()
    check(len(installed) == len(product.files) + (5 if mode == "list" else 6),
          f"the product is installed: {len(installed)} traces")
    process = open_and_click(product, artifacts, f"{mode}_1_question.png", UNINSTALL_BUTTON)
    if process is None:
        return
    time.sleep(1.0)
    screenshot(artifacts, f"{mode}_2_progress.png", process.rect)
    exit_code(process, 90)
    clear_bat = unix_path("C:\\clear.bat")
    deadline = time.time() + 30
    while (product.traces() or os.path.exists(clear_bat)) and time.time() < deadline:
        time.sleep(0.3)
    left = product.traces()
    check(left == [], "every trace of the product is gone: " + (", ".join(left) or "nothing left"))
    if mode == "list":
        check(os.path.exists(os.path.join(product.install, "kvUninstall.dat")),
              "list mode leaves the uninstaller's folder alone but for the program")
    check(not os.path.exists(clear_bat), "c:\\clear.bat has deleted itself")
    seen = reports(proxy)
    print("reports: " + repr(seen), flush=True)
    types = [r[0] for r in seen]
    check(types == ["open", "uninstall"], f"the proxy saw open, then uninstall (saw {types})")
    if len(seen) == 2:
        check(seen[0][1] == "Brix_Uninstall", "open carries Brix_Uninstall")
        check(seen[1][1] == name, f"uninstall carries the display name {name}")
        check(len(seen[0][2]) == 20 and seen[0][2] == seen[1][2],
              "both carry the same 20-character uuid")


def cancel(product, artifacts, shot):
    process = open_and_click(product, artifacts, shot, CANCEL_BUTTON)
    if process is not None:
        exit_code(process, 30)
    return process and os.path.join(artifacts, shot)


def pending_restart():
    """What waits for deletion at the next restart, as the registry holds it."""
    return wine("reg", "query", r"HKLM\System\CurrentControlSet\Control\Session Manager",
                "/v", "PendingFileRenameOperations")[1]


def find_box(timeout=30):
    """The notice box (300 x 200, the program's caption) and its (x, y), once it has come to rest."""
    deadline, last, still = time.time() + timeout, None, 0
    while time.time() < deadline and still < 3:
        for window in xdotool("search", "--onlyvisible", "--name", CAPTION).split():
            values = dict(line.partition("=")[::2] for line in
                          xdotool("getwindowgeometry", "--shell", window).splitlines())
            rect = tuple(int(values.get(k, "0")) for k in ("X", "Y", "WIDTH", "HEIGHT"))
            if rect[2:] == (300, 200):
                still, last = (still + 1 if rect == last else 0), rect
        time.sleep(0.1)
    return last if still >= 3 else None


def run_in_use(bin_dir, artifacts, proxy):
    """Another program holds a file of the product open: the rest goes, the user is told that a
    restart completes the removal, and the exit code says so."""
    wine("reg", "delete", r"HKLM\System\CurrentControlSet\Control\Session Manager", "/v",
         "PendingFileRenameOperations", "/f")
    product = Product(bin_dir, "Brix Busy", "inuse", proxy.server_address[1])
    held = product.files[0]
    held_win = product.install_win + "bin\\brix.exe"
    holder_dir = os.path.join(product.root, "holder")
    os.makedirs(holder_dir)
    shutil.copy(os.path.join(bin_dir, "self_delete_probe.exe"), os.path.join(holder_dir, "holder.exe"))
    holder = subprocess.Popen(["wine", os.path.join(holder_dir, "holder.exe"), "--hold", held_win,
                               "--sleep", "120000"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        check(holder.stdout.readline().strip() == "held", "another program holds " + held_win)
        process = open_and_click(product, artifacts, "inuse_1_question.png", UNINSTALL_BUTTON)
        if process is None:
            return
        box = find_box(60)
        check(box is not None, "a 300 x 200 notice says that a restart completes the removal")
        if box is not None:
            screenshot(artifacts, "inuse_2_restart_notice.png", box)
            xdotool("mousemove", str(box[0] + 150), str(box[1] + 182))
            time.sleep(0.4)
            xdotool("click", "1")
        try:
            code = process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            code = None
        # 3010 reaches the Linux side as its low 8 bits.
        check(code == 3010 & 0xFF, f"the process ends with exit code 3010 (got {code})")
        deadline = time.time() + 30
        while os.path.exists(product.exe) and time.time() < deadline:
            time.sleep(0.3)
        left = product.traces()
        check(sorted(left) == sorted([held, product.install]),
              "all but the held file and its folder is gone: " + ", ".join(left))
        pending = pending_restart()
        check(held_win.lower() in pending.lower(), "the held file waits for the restart")
    finally:
        holder.kill()
        holder.wait()
        wine("reg", "delete", r"HKLM\System\CurrentControlSet\Control\Session Manager", "/v",
             "PendingFileRenameOperations", "/f")
        product.remove()


def run_cancel(bin_dir, artifacts, proxy):
    product = Product(bin_dir, "Brix Cancel", "cancel", proxy.server_address[1])
    before = product.traces()
    if cancel(product, artifacts, "cancel_1_question.png"):
        time.sleep(1.0)
        check(product.traces() == before, "nothing is removed")
        check(os.path.isdir(product.install), "the installation folder stays")
        types = [r[0] for r in reports(proxy)]
        check("uninstall" not in types, f"no uninstall report (saw {types})")
        check(types.count("open") == 1, "one open report")
    product.remove()


def run_noname(bin_dir, artifacts, proxy):
    product = Product(bin_dir, "Brix Named Product", "noname", proxy.server_address[1],
                      with_record=False)
    shots = [cancel(product, artifacts, "noname_1_question.png")]
    if shots[0]:
        product.write_record()
        shots.append(cancel(product, artifacts, "noname_2_named.png"))
    if all(shots):
        widths = [text_width(s) for s in shots]
        print(f"question widths: without record {widths[0]}, with record {widths[1]}", flush=True)
        check(widths[0] > 40, "without kvUninstall.dat the question is still drawn")
        check(widths[1] > widths[0] + 40,
              "and it is shorter than with a named product: the name is empty")
        check(os.path.exists(product.exe), "nothing was removed")
    product.remove()


def main():
    bin_dir, artifacts, mode = sys.argv[1:4]
    os.makedirs(artifacts, exist_ok=True)
    if not os.environ.get("DISPLAY"):
        print("SKIPPED: no X display for the window")
        return 0
    runs = {"folder": lambda p: run_uninstall(bin_dir, artifacts, "folder", p),
            "list": lambda p: run_uninstall(bin_dir, artifacts, "list", p),
            "cancel": lambda p: run_cancel(bin_dir, artifacts, p),
            "noname": lambda p: run_noname(bin_dir, artifacts, p),
            "inuse": lambda p: run_in_use(bin_dir, artifacts, p)}
    if mode not in runs:
        print("unknown mode " + mode)
        return 2
    proxy = start_proxy()
    try:
        runs[mode](proxy)
    finally:
        proxy.shutdown()
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
