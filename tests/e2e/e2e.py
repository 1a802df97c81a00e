#!/usr/bin/env python3
"""The programs as a person meets them, driven from the Linux side on X displays of their own
with real input: the uninstaller's window (folder and list mode, cancel, no record, a file in
use), the message box, and the crash handler. Reports reach a loopback peer (tests/support/
kvwire.py) named by proxy.dat; screenshots go to the artifacts folder.

    e2e.py BIN_DIR ARTIFACTS_DIR CASE

CASE: window-folder, window-list, window-cancel, window-noname, window-inuse, silent, installer,
msgbox, crash-one, crash-two, crash-entry. WINEPREFIX and the other Wine settings come from the environment.
"""
import contextlib
import functools
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import time
import urllib.parse

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
import kvwire  # noqa: E402

CAPTION = "栎禾软件-卸载程序"
WIDTH, HEIGHT, BOX = 450, 230, (300, 200)
UNINSTALL_BUTTON, CANCEL_BUTTON = (289, 162), (359, 162)
OK_ALONE, OK_OF_TWO, CANCEL_OF_TWO, CLOSE = (150, 182), (105, 182), (195, 182), (279, 10)
UNINSTALL_ROOT = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
STORED_UID = "KV123456780004200007"  # KV, 8 tick digits, two of 5
PENDING = r"HKLM\System\CurrentControlSet\Control\Session Manager"
failures = []


def check(condition, what):
    print(("ok:   " if condition else "FAIL: ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def run(*args, env=None, timeout=120):
    out = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, timeout=timeout, env=env)
    return out.returncode, out.stdout.decode("utf-8", "replace").replace("\r", "").strip()


def wine(*args):
    return run("wine", *args)


def unix_path(win_path):
    return run("winepath", "-u", win_path)[1]


def fresh(win_path):
    """A fresh, empty folder of the prefix; its Linux path."""
    folder = pathlib.Path(unix_path(win_path))
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder


def write(path, data):
    path = pathlib.Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data if isinstance(data, bytes) else data.encode())


def wait_until(condition, seconds=30):
    """Polls condition until it holds or the time is up; whether it holds."""
    deadline = time.time() + seconds
    while not condition() and time.time() < deadline:
        time.sleep(0.3)
    return condition()


def clear_pending():
    wine("reg", "delete", PENDING, "/v", "PendingFileRenameOperations", "/f")


@contextlib.contextmanager
def held_open(display, bin_dir, path_win):
    """Another program holds the file open, without sharing its deletion, while the block runs."""
    holder = display.start(pathlib.Path(bin_dir) / "kvtesthelper.exe", "sleep", "120000", "--hold", path_win)
    try:
        check(holder.stdout.readline().strip() == "held", "another program holds " + path_win)
        yield
    finally:
        holder.kill()
        holder.wait()


def uptime_ms():
    return int(float(pathlib.Path("/proc/uptime").read_text().split()[0]) * 1000)


class Display:
    """An Xvfb display of its own, 1280 x 800, so that no other window lies over the one looked at."""

    def __enter__(self):
        n = 300 + os.getpid() % 300
        while os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
            n += 1
        self.xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1280x800x24", "-nolisten",
                                      "tcp"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                break
            time.sleep(0.05)
        self.env = dict(os.environ, DISPLAY=f":{n}")
        return self

    def __exit__(self, *exc):
        self.xvfb.terminate()
        self.xvfb.wait(10)

    def start(self, *args, cwd=None):
        return subprocess.Popen(["wine", *map(str, args)], cwd=cwd, env=self.env, text=True,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL)

    def x(self, *args):
        return run("xdotool", *args, env=self.env, timeout=30)[1]

    def windows(self, size=None):
        """Visible windows with the program's caption: (x, y, w, h) each, of that size if given."""
        found = []
        for wid in self.x("search", "--onlyvisible", "--name", CAPTION).split():
            values = dict(line.partition("=")[::2]
                          for line in self.x("getwindowgeometry", "--shell", wid).splitlines())
            try:
                rect = tuple(int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
            except KeyError:
                continue  # gone between the two calls
            if size is None or rect[2:] == size:
                found.append(rect)
        return found

    def wait_window(self, size, process=None, timeout=60):
        """The window of that size once it has come to rest (windows slide and zoom in)."""
        deadline, last, still = time.time() + timeout, None, 0
        while time.time() < deadline and still < 3 and (process is None or process.poll() is None):
            rects = self.windows(size)
            rect = rects[-1] if rects else None
            still, last = (still + 1 if rect and rect == last else 0), rect
            time.sleep(0.1)
        return last if still >= 3 else None

    def click(self, rect, at):
        self.x("mousemove", str(rect[0] + at[0]), str(rect[1] + at[1]))
        time.sleep(0.3)  # the hover picture
        self.x("click", "1")

    def shot(self, artifacts, name, rect=None, margin=20):
        path = pathlib.Path(artifacts) / name
        run("import", "-window", "root", str(path), env=self.env, timeout=60)
        if rect:
            x, y, w, h = rect
            run("convert", str(path), "-crop", f"{w + 2 * margin}x{h + 2 * margin}+"
                f"{max(0, x - margin)}+{max(0, y - margin)}", "+repage", str(path), timeout=60)
        print("screenshot: " + str(path), flush=True)
        return path


def means(png, x, y, w, h):
    """Mean red, green and blue (0..1) of a rectangle of a picture."""
    out = run("convert", str(png), "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-format",
              "%[fx:mean.r] %[fx:mean.g] %[fx:mean.b]", "info:")[1]
    return [float(v) for v in out.split()]


def reports(wire):
    """(type, value, uuid, sign) of every report the peer saw, in arrival order."""
    queries = [urllib.parse.parse_qs(urllib.parse.urlsplit(t).query, keep_blank_values=True)
               for t in wire.targets()]
    return [tuple(q.get(k, [""])[0] for k in ("type", "value", "uuid", "sign")) for q in queries]


def check_sign(sign, sent_at):
    """The sign is the tick count when the report left: the machine's uptime then, in 32 bits."""
    expected = sent_at & 0xFFFFFFFF
    got = int(sign) & 0xFFFFFFFF if re.fullmatch(r"-?\d+", sign) else -1
    check(min((got - expected) % 2**32, (expected - got) % 2**32) < 60000,
          f"the report's sign is the tick count (got {sign}, uptime {sent_at} ms)")


# ---- the uninstaller's window -------------------------------------------------------------------

class Product:
    """A product's whole footprint in the prefix; in list mode its files live outside the
    uninstaller's folder and are listed one by one."""

    def __init__(self, bin_dir, name, mode, wire, with_record=True):
        self.bin, self.name, self.mode = pathlib.Path(bin_dir), name, mode
        self.key = "BrixE2E" + mode.capitalize()
        self.root_win = "C:\\kvtest\\e2e_" + mode + "\\"
        self.root = fresh(self.root_win)
        listed = mode == "list"
        self.install_win = self.root_win + ("app\\" if listed else name + "\\")
        self.install = pathlib.Path(unix_path(self.install_win))
        self.install.mkdir(parents=True)
        self.exe = self.install / "kvUninstall.exe"
        for program in ("kvUninstall.exe", "zlib1.dll"):
            shutil.copy(self.bin / program, self.install)
        write(self.install / "proxy.dat", wire.proxy_dat())
        self.folder_win, self.file_win = self.root_win + "product files\\", self.root_win + "loose.txt"
        data = pathlib.Path(unix_path(self.folder_win)) if listed else self.install
        self.files = [data / rel for rel in ("bin/brix.exe", "data/maps/map1.dat",
                                             "data/maps/map2.dat", "docs/readme.txt")]
        self.files += [pathlib.Path(unix_path(self.file_win))] if listed else []
        for path in self.files:
            write(path, f"content of {path}\n")
        # What an installer leaves elsewhere, and what stays: another product beside this one.
        self.neighbour = self.root / "neighbour" / "keep.txt"
        write(self.neighbour, "another product\n")
        self.uninstall_key = UNINSTALL_ROOT + "\\" + self.key
        wine("reg", "add", self.uninstall_key, "/v", "DisplayName", "/d", name, "/f")
        shortcut = str(self.bin / "kvshortcut.exe")
        menu, desktop, quick = (wine(shortcut, "folder", f)[1]
                                for f in ("programs", "desktop", "quicklaunch"))
        menu += "\\" + name
        for folder, link in ((menu, name), (menu, "Uninstall " + name), (desktop, name),
                             (quick, name)):
            wine(shortcut, "create", folder, link, self.install_win + "kvUninstall.exe")
        self.menu = pathlib.Path(unix_path(menu))
        write(self.menu / "Extras" / "Manual.txt", "manual\n")
        self.desktop_link = pathlib.Path(unix_path(desktop + "\\" + name + ".lnk"))
        self.listed_link_win = quick + "\\" + name + ".lnk"
        self.listed_link = pathlib.Path(unix_path(self.listed_link_win))
        if with_record:
            self.write_record()

    def write_record(self):
        args = ["write", self.install_win + "kvUninstall.dat", "--key", self.key, "--name",
                self.name, "--menu", self.name, "--shortcut", self.listed_link_win]
        args += (["--folder", self.folder_win, "--file", self.file_win] if self.mode == "list"
                 else ["--dir", self.install_win])
        rc, out = wine(str(self.bin / "kvrecord.exe"), *args)
        assert rc == 0, out

    def traces(self):
        """Everything of the product that is still there."""
        left = [str(p) for p in self.files + [self.exe, self.menu, self.desktop_link,
                                              self.listed_link] if p.exists()]
        if self.mode != "list" and self.install.is_dir():
            left.append(str(self.install))
        if wine("reg", "query", self.uninstall_key)[0] == 0:
            left.append(self.uninstall_key)
        return left

    def remove(self):
        for tree in (self.root, self.menu):
            shutil.rmtree(tree, ignore_errors=True)
        wine("reg", "delete", self.uninstall_key, "/f")
        for path in (self.desktop_link, self.listed_link):
            if path.exists():
                path.unlink()


def open_window(display, product, artifacts, shot):
    """Starts the uninstaller and checks its window; the process and the window's rect."""
    process = display.start(product.exe, cwd=product.install)
    rect = display.wait_window((WIDTH, HEIGHT), process)
    if not check(rect is not None, f"the window {CAPTION} appears, {WIDTH} x {HEIGHT} "
                                   f"(the process: {process.poll() if process.poll() is not None else 'running'})"):
        process.kill()
        return process, None
    check(rect[:2] == ((1280 - WIDTH) // 2, (800 - HEIGHT) // 2), f"it is centred (at {rect[:2]})")
    display.shot(artifacts, shot, rect)
    return process, rect


def wait_exit(process, code, timeout=90):
    try:
        got = process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        got = None
    # A process's exit code reaches the Linux side as its low 8 bits.
    check(got == code & 0xFF, f"the process ends with exit code {code} (got {got})")


def uninstall(mode, bin_dir, artifacts, wire, display):
    name = "Brix 积木" if mode == "folder" else "Brix List"
    product = Product(bin_dir, name, mode, wire)
    # A stored identifier of 20 characters is the user's for good; a new one would be longer
    # after some 28 hours of uptime and then never reused, so the run starts from a stored one.
    wine("reg", "add", r"HKCU\SOFTWARE\Quarell", "/v", "UID", "/d", STORED_UID, "/f")
    installed = product.traces()
    check(len(installed) == len(product.files) + (5 if mode == "list" else 6),
          f"the product is installed: {len(installed)} traces")
    process, rect = open_window(display, product, artifacts, f"{mode}_1_question.png")
    if rect is None:
        return
    display.click(rect, UNINSTALL_BUTTON)
    clicked = uptime_ms()
    time.sleep(1.0)
    display.shot(artifacts, f"{mode}_2_progress.png", rect)
    wait_exit(process, 0)
    clear_bat = pathlib.Path(unix_path("C:\\clear.bat"))
    wait_until(lambda: not product.traces() and not clear_bat.exists())
    check(product.traces() == [], "every trace of the product is gone: " +
          (", ".join(product.traces()) or "nothing left"))
    check(product.neighbour.read_text() == "another product\n", "the product beside it stays")
    if mode == "list":
        check((product.install / "kvUninstall.dat").exists(),
              "list mode leaves the uninstaller's folder alone but for the program")
    check(not clear_bat.exists(), "c:\\clear.bat has deleted itself")
    seen = reports(wire)
    check([r[:3] for r in seen] == [("open", "Brix_Uninstall", STORED_UID), ("uninstall", name, STORED_UID)],
          f"the peer saw open, then uninstall with the display name, both with the stored identifier ({seen})")
    if len(seen) == 2:
        check_sign(seen[1][3], clicked)
    product.remove()


def cancel(bin_dir, artifacts, wire, display):
    product = Product(bin_dir, "Brix Cancel", "cancel", wire)
    before = product.traces()
    process, rect = open_window(display, product, artifacts, "cancel_1_question.png")
    if rect is not None:
        display.click(rect, CANCEL_BUTTON)
        wait_exit(process, 0, 30)
        check(product.traces() == before, "nothing is removed")
        types = [r[0] for r in reports(wire)]
        check(types == ["open"], f"only the open report (saw {types})")
    product.remove()


def question_width(display, artifacts, product, shot):
    """Width of the question's ink in its box at (35, 146), 210 x 30."""
    process, rect = open_window(display, product, artifacts, shot)
    if rect is None:
        return 0
    display.click(rect, CANCEL_BUTTON)
    wait_exit(process, 0, 30)
    out = run("convert", str(pathlib.Path(artifacts) / shot), "-crop", "210x30+55+166", "+repage",
              "-fuzz", "25%", "-trim", "-format", "%w", "info:")[1]
    return int(out) if out.isdigit() else 0


def no_record(bin_dir, artifacts, wire, display):
    product = Product(bin_dir, "Brix Named Product", "noname", wire, with_record=False)
    without = question_width(display, artifacts, product, "noname_1_question.png")
    product.write_record()
    named = question_width(display, artifacts, product, "noname_2_named.png")
    check(without > 40, f"without kvUninstall.dat the question is still drawn ({without})")
    check(named > without + 40, f"and it is shorter than with a named product ({named})")
    check(product.exe.exists(), "nothing was removed")
    product.remove()


def in_use(bin_dir, artifacts, wire, display):
    """Another program holds a file of the product open: the rest goes, a notice says that a
    restart completes the removal, and the exit code says so."""
    clear_pending()
    product = Product(bin_dir, "Brix Busy", "inuse", wire)
    held, held_win = product.files[0], product.install_win + "bin\\brix.exe"
    try:
        with held_open(display, bin_dir, held_win):
            process, rect = open_window(display, product, artifacts, "inuse_1_question.png")
            if rect is None:
                return
            display.click(rect, UNINSTALL_BUTTON)
            box = display.wait_window(BOX, process)
            if check(box is not None, "a 300 x 200 notice says that a restart completes the removal"):
                display.shot(artifacts, "inuse_2_restart_notice.png", box)
                display.click(box, OK_ALONE)
            wait_exit(process, 3010, 60)
        wait_until(lambda: not product.exe.exists())
        left = product.traces()
        check(sorted(left) == sorted([str(held), str(product.install)]),
              "all but the held file and its folder is gone: " + ", ".join(left))
        pending = wine("reg", "query", PENDING, "/v", "PendingFileRenameOperations")[1]
        check(held_win.lower() in pending.lower(), "the held file waits for the restart")
    finally:
        clear_pending()
        product.remove()


# ---- silent runs and an installer ------------------------------------------------------------------

def silent(bin_dir, artifacts, wire, display):
    """What deployment tools run: no window, exit codes, a UTF-8 log of the run."""
    clear_pending()
    product = Product(bin_dir, "Brix Quiet", "silent", wire)
    log_win = product.root_win + "run.log"
    log = product.root / "run.log"
    victim = product.root / "victim.txt"
    write(victim, "someone else's\n")
    os.symlink(victim, product.root / "linked.log")

    def run_silently(*switches, code, what):
        rc, _ = run("wine", str(product.exe), *switches, env=display.env)
        check(rc == code & 0xFF, f"{what}: exit code {code} (got {rc})")

    # Refused before the run: an unknown switch, a log that is a link, another uninstall running.
    run_silently("/S", "/X", code=87, what="an unknown switch")
    run_silently("/S", "/LOG=" + product.root_win + "linked.log", code=87, what="a log that is a link")
    check(victim.read_text() == "someone else's\n", "nothing is written through the link")
    window = display.start(product.exe, cwd=product.install)
    rect = display.wait_window((WIDTH, HEIGHT), window)
    run_silently("/VERYSILENT", code=1618, what="while the window of another uninstall is open")
    if rect:
        display.click(rect, CANCEL_BUTTON)
    window.wait(30)
    check(product.traces() != [], "nothing was removed so far")
    # A file in use: the rest goes, the file waits for the restart, and the log says so.
    sent_before = len(reports(wire))
    with held_open(display, bin_dir, product.install_win + "bin\\brix.exe"):
        run_silently("/s", "/LOG=" + log_win, code=3010, what="a file in use")
    wait_until(lambda: not product.exe.exists())
    check(sorted(product.traces()) == sorted([str(product.files[0]), str(product.install)]),
          "all but the file in use is gone: " + ", ".join(product.traces()))
    text = log.read_text(encoding="utf-8") if log.exists() else ""
    for line in ("record ", "sweeping ", "queued for restart: " + re.escape(product.install_win) + "bin",
                 "key removed:", r"deleted .*\\Brix Quiet\.lnk", "exit code 3010"):
        check(re.search(line, text) is not None, f"the log has \"{line}\"")
    # Both leave on threads of their own at nearly the same moment: either may arrive first.
    seen = sorted(r[0] for r in reports(wire)[sent_before:])
    check(seen == ["open", "uninstall"], f"the reports go out as in the window (seen: {seen})")
    clear_pending()
    # No record at all.
    shutil.rmtree(product.install, ignore_errors=True)
    product.install.mkdir(parents=True)
    shutil.copy(product.bin / "kvUninstall.exe", product.install)
    run_silently("/S", code=2, what="no record")
    product.remove()


def installer(bin_dir, artifacts, wire, display):
    """An NSIS installer made with tools/nsis/kvUninstall.nsh installs silently, and the Uninstall
    key's QuietUninstallString removes every trace again."""
    build, source = pathlib.Path(bin_dir).parent, pathlib.Path(__file__).resolve().parents[2]
    sdk, setup = build / "sdk-nsis", build / "BrixSampleSetup.exe"
    shutil.rmtree(sdk, ignore_errors=True)
    subprocess.run(["cmake", "--install", str(build), "--prefix", str(sdk)], check=True,
                   stdout=subprocess.DEVNULL)
    made = subprocess.run(["makensis", f"-DKV_SDK={sdk}", f"-DOUT={setup}",
                           str(source / "tools/nsis/sample.nsi")], stdout=subprocess.PIPE, text=True)
    if not check(made.returncode == 0, "makensis builds the sample"):
        print(made.stdout)
        return
    key = UNINSTALL_ROOT + "\\BrixSample"
    install = pathlib.Path(unix_path("C:\\Program Files\\Brix Sample"))
    check(run("wine", str(setup), "/S", env=display.env)[0] == 0, "the installer runs silently")
    check((install / "kvUninstall.dat").exists() and (install / "data" / "levels.dat").exists(),
          "the product and its record are installed")
    quiet = wine("reg", "query", key, "/v", "QuietUninstallString")[1]
    m = re.search(r'QuietUninstallString\s+REG_SZ\s+"([^"]+)" (/S)', quiet)
    if not check(m is not None, "the key holds the quiet uninstall string: " + quiet):
        return
    check(run("wine", m.group(1), m.group(2), env=display.env)[0] == 0, "it runs with exit code 0")
    check(wait_until(lambda: not install.exists()), "the installation folder is gone")
    check(wine("reg", "query", key)[0] != 0, "the Uninstall key is gone")
    desktop = pathlib.Path(unix_path(wine(str(pathlib.Path(bin_dir) / "kvshortcut.exe"), "folder", "desktop")[1]))
    check(not (desktop / "Brix Sample.lnk").exists(), "the desktop link is gone")


# ---- the message box ------------------------------------------------------------------------------

def message_box(bin_dir, artifacts, wire, display):
    folder = fresh("C:\\kvtest\\e2e_msgbox\\")
    shutil.copy(pathlib.Path(bin_dir) / "kvtesthelper.exe", folder)
    # style, countdown, check box, what is done, the result, a colour check of the picture
    rows = [(0, 0, 0, OK_ALONE, 1, "blue"), (1, 0, 1, CANCEL_OF_TWO, 2, "amber"),
            (1, 0, 0, OK_OF_TWO, 1, None), (2, 0, 0, CLOSE, 2, None), (0, 3, 0, None, 1, None)]
    for style, countdown, box_check, click, result, picture in rows:
        what = f"style {style}, countdown {countdown}, check box {box_check}"
        process = display.start(folder / "kvtesthelper.exe", "msgbox", style, countdown, box_check,
                                CAPTION, cwd=folder)
        rect = display.wait_window(BOX, process, 30)
        if not check(rect is not None, f"{what}: the box appears"):
            process.kill()
            continue
        shown = time.monotonic()
        check(rect[:2] == ((1280 - BOX[0]) // 2, (800 - BOX[1]) // 2), f"{what}: centred")
        shot = display.shot(artifacts, f"msgbox_style{style}_{countdown}_{box_check}.png", rect, 0)
        r, g, b = means(shot, 14, 62, 24, 24)
        if picture == "blue":
            check(b - r > 0.2, f"{what}: the information picture")
        if picture == "amber":
            check(r - b > 0.2, f"{what}: the question picture")
            r, g, b = means(shot, 52, 144, 11, 11)
            check(b - r > 0.2, f"{what}: the check box is checked")
        if click == CLOSE:
            before = means(shot, 262, 3, 34, 14)
            display.x("mousemove", str(rect[0] + CLOSE[0]), str(rect[1] + CLOSE[1]))
            time.sleep(0.5)
            hover = means(display.shot(artifacts, "msgbox_close_hover.png", rect, 0), 262, 3, 34, 14)
            check(hover[0] - hover[1] > before[0] - before[1] + 0.2, f"{what}: the close button's hover")
        if click:
            display.click(rect, click)
        out, _ = process.communicate(timeout=30)
        check(process.returncode == result and f"result={result}" in out,
              f"{what}: result {result} (got {process.returncode})")
        if countdown:
            # Three seconds after it was made, plus up to 2 s for Wine to hide it.
            elapsed = time.monotonic() - shown
            check(2.0 < elapsed < 7.0, f"{what}: closes itself after the countdown ({elapsed:.1f} s)")


# ---- the crash handler ----------------------------------------------------------------------------

def minidump_streams(data):
    """{stream type: bytes} of a valid minidump."""
    assert data[:4] == b"MDMP", data[:4]
    version, count, rva = struct.unpack_from("<III", data, 4)
    assert version & 0xFFFF == 0xA793 and 0 < count < 64, (hex(version), count)
    streams = {}
    for i in range(count):
        kind, size, at = struct.unpack_from("<III", data, rva + 12 * i)
        if kind:
            assert at + size <= len(data), (kind, at, size)
            streams[kind] = data[at:at + size]
    return streams


def check_crash(folder, program, tid, targets, shot, box):
    check(len(targets) == 1, f"one crash report ({targets})")
    if targets:
        url = urllib.parse.urlsplit(targets[0])
        check(url.path == "/api.ashx" and re.fullmatch(
            r"type=qz_uninstall_dump&value=&uuid=[^&]+&sign=-?\d+", url.query) is not None,
            "to /api.ashx, of type qz_uninstall_dump, with an empty value: " + url.query)
    dumps = sorted(folder.glob("*.dmp"))
    check(len(dumps) == 1 and re.fullmatch(re.escape(program) + r"_-?\d+\.dmp", dumps[0].name)
          is not None, f"one dump named after the program ({[d.name for d in dumps]})")
    if dumps:
        streams = minidump_streams(dumps[0].read_bytes())
        check(all(k in streams for k in (3, 4, 6, 7)), "threads, modules, exception, system")
        faulted, _, code = struct.unpack_from("<III", streams.get(6, bytes(12)), 0)
        check((faulted, code) == (tid, 0xC0000005), f"the faulting thread's access violation")
    check(box is not None, "one 300 x 200 box appears")
    if box:
        check(box[:2] == ((1280 - BOX[0]) // 2, (800 - BOX[1]) // 2), "centred")
        r, g, b = means(shot, 80, 70, 180, 30)
        check(r - g > 0.25, "the red banner of the crash picture")


def crash(two, bin_dir, artifacts, wire, display):
    name = "crash_two" if two else "crash_one"
    folder = fresh(f"C:\\kvtest\\e2e_{name}\\")
    shutil.copy(pathlib.Path(bin_dir) / "kvtesthelper.exe", folder)
    write(folder / "proxy.dat", wire.proxy_dat())
    process = display.start(folder / "kvtesthelper.exe", "crash", *(["two"] if two else []),
                            cwd=folder)
    m = re.match(r"faulting main=(\d+) second=(\d+)", process.stdout.readline())
    fault = time.monotonic()
    box = display.wait_window(BOX, process, 20)
    shown = time.monotonic()
    shot = display.shot(artifacts, f"{name}_box.png", box, 0) if box else None
    boxes = len(display.windows(BOX))
    while process.poll() is None and time.monotonic() - fault < 30:
        time.sleep(0.1)
    ended = time.monotonic()
    out = process.stdout.read()
    check(process.poll() is not None and "survived" not in out, "the process ends, not going on")
    check(boxes == 1, f"exactly one box ({boxes})")
    # It closes itself five seconds after it opened; Wine may take 2 s more to hide it.
    check(4.0 < ended - shown < 9.0, f"it closes itself after five seconds ({ended - shown:.1f} s)")
    check_crash(folder, "kvtesthelper.exe", int(m.group(1)) if m else -1, wire.targets(), shot, box)
    if two:
        report = (folder / "kvtesthelper.exe.threads.txt").read_text()
        m2 = re.match(r"alive=(\d) cpu_ms=(\d+)", report)
        check(m2 is not None and m2.group(1) == "1" and int(m2.group(2)) < 200,
              f"the second thread waits for the handling without spinning ({report.strip()})")


def crash_entry(bin_dir, artifacts, wire, display):
    """The uninstaller itself: a thread of it faults from outside; its entry's handler catches it."""
    folder = fresh("C:\\kvtest\\e2e_crash_entry\\")
    shutil.copy(pathlib.Path(bin_dir) / "kvUninstall.exe", folder)
    write(folder / "proxy.dat", wire.proxy_dat())
    process = display.start(folder / "kvUninstall.exe", cwd=folder)
    try:
        if not check(display.wait_window((WIDTH, HEIGHT), process) is not None, "the window appears"):
            return
        wire_before = len(wire.targets())
        rc, out = run("wine", str(pathlib.Path(bin_dir) / "kvtesthelper.exe"), "remote-fault",
                      r"C:\kvtest\e2e_crash_entry\kvUninstall.exe", env=display.env)
        m = re.search(r"thread=(\d+)", out)
        check(rc == 0 and m is not None, "a thread of the uninstaller faults: " + out)
        box = display.wait_window(BOX, process, 20)
        shot = display.shot(artifacts, "crash_entry_box.png", box, 0) if box else None
        process.wait(30)
        # The window's "open" report came before the fault.
        check_crash(folder, "kvUninstall.exe", int(m.group(1)) if m else -1,
                    wire.targets()[wire_before:], shot, box)
    finally:
        if process.poll() is None:
            process.kill()


def main():
    bin_dir, artifacts, case = sys.argv[1:4]
    os.makedirs(artifacts, exist_ok=True)
    cases = {"window-folder": functools.partial(uninstall, "folder"),
             "window-list": functools.partial(uninstall, "list"), "window-cancel": cancel,
             "window-noname": no_record, "window-inuse": in_use, "silent": silent,
             "installer": installer, "msgbox": message_box,
             "crash-one": functools.partial(crash, False), "crash-two": functools.partial(crash, True),
             "crash-entry": crash_entry}
    if case not in cases:
        print(__doc__)
        return 2
    wire = kvwire.Wire()
    try:
        with Display() as display:
            cases[case](bin_dir, artifacts, wire, display)
    finally:
        wire.close()
    print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
