#!/usr/bin/env python3
"""The message box under real input: msgbox_probe.exe shows one 300 x 200 box on a private X
display, xdotool moves and clicks the real pointer, and the probe's exit code is the box's result.
A screenshot of each style goes to the artifacts folder.

    message_box_e2e.py <bin folder> <artifacts folder>
"""
import pathlib
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "support"))
import wine_x  # noqa: E402

BIN, ARTIFACTS = (pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])) \
    if len(sys.argv) > 2 else (None, None)
W, H = 300, 200
# Middles of the widgets, relative to the box: OK of style 0, OK and Cancel of style 1, close.
OK_ALONE = (150, 182)
OK_OF_TWO = (105, 182)
CANCEL = (195, 182)
CLOSE = (279, 10)


class Box:
    def __init__(self, display, style, countdown=0, check=0, title="消息框"):
        self.display = display
        self.title = title
        folder = wine_x.prefix_dir("msgbox_input")
        shutil.copy(BIN / "msgbox_probe.exe", folder / "msgbox_probe.exe")
        self.process = subprocess.Popen(
            ["wine", str(folder / "msgbox_probe.exe"), str(style), str(countdown), str(check),
             title], cwd=folder, env=display.env, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)

    def wait_shown(self, timeout=30):
        """Waits for the box; returns its screen position."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            for _, x, y, w, h in self.display.windows(self.title):
                if (w, h) == (W, H):
                    self.shown_at = time.monotonic()
                    self.x, self.y = x, y
                    time.sleep(0.3)  # the first paint
                    return x, y
            time.sleep(0.1)
        raise AssertionError("the box did not appear")

    def click(self, at):
        self.display.click(self.x + at[0], self.y + at[1])

    def result(self, timeout=30):
        out, _ = self.process.communicate(timeout=timeout)
        return self.process.returncode, out

    def shot(self, name):
        full = ARTIFACTS / (name + "_screen.png")
        self.display.screenshot(full)
        box = ARTIFACTS / (name + ".png")
        wine_x.crop(full, self.x, self.y, W, H, box)
        return full


class MessageBoxInput(unittest.TestCase):
    def setUp(self):
        self.display = wine_x.PrivateDisplay().__enter__()

    def tearDown(self):
        self.display.__exit__(None, None, None)

    def test_style_zero_ok_gives_one(self):
        box = Box(self.display, 0)
        x, y = box.wait_shown()
        self.assertEqual(((1280 - W) // 2, (800 - H) // 2), (x, y), "centred")
        shot = box.shot("msgbox_style0")
        # The information picture (blue) at (10, 58), 32 x 32.
        r, g, b, _ = wine_x.region_means(shot, x + 14, y + 62, 24, 24)
        self.assertGreater(b - r, 0.2)
        box.click(OK_ALONE)
        code, out = box.result()
        self.assertEqual(1, code, out)
        self.assertIn("result=1", out)

    def test_style_one_with_check_box_cancel_gives_two(self):
        box = Box(self.display, 1, check=1)
        x, y = box.wait_shown()
        shot = box.shot("msgbox_style1_check")
        # The question picture (amber): more red than blue.
        r, g, b, _ = wine_x.region_means(shot, x + 14, y + 62, 24, 24)
        self.assertGreater(r - b, 0.2)
        # The checked box at (50, 142), 15 x 15: blue.
        r, g, b, _ = wine_x.region_means(shot, x + 52, y + 144, 11, 11)
        self.assertGreater(b - r, 0.2)
        box.click(CANCEL)
        self.assertEqual(2, box.result()[0])

    def test_style_one_ok_gives_one(self):
        box = Box(self.display, 1)
        box.wait_shown()
        box.click(OK_OF_TWO)
        self.assertEqual(1, box.result()[0])

    def test_close_button_hovers_and_gives_two(self):
        box = Box(self.display, 2)
        x, y = box.wait_shown()
        before = box.shot("msgbox_style2")
        r0, g0, b0, _ = wine_x.region_means(before, x + 262, y + 3, 34, 14)
        self.display.run(["xdotool", "mousemove", str(x + CLOSE[0]), str(y + CLOSE[1])],
                         check=True)
        time.sleep(0.5)
        hover = box.shot("msgbox_close_hover")
        r1, g1, b1, _ = wine_x.region_means(hover, x + 262, y + 3, 34, 14)
        self.assertGreater(r1 - g1, r0 - g0 + 0.2, "the red hover picture of the close button")
        box.click(CLOSE)
        self.assertEqual(2, box.result()[0])

    def test_countdown_closes_with_one_and_counts_in_the_caption(self):
        box = Box(self.display, 0, countdown=3)
        x, y = box.wait_shown()
        first = box.shot("msgbox_countdown_first")
        time.sleep(1.6)
        later = box.shot("msgbox_countdown_later")
        button = dict(x=x + 115, y=y + 170, w=70, h=25)
        a = ARTIFACTS / "countdown_a.png"
        b = ARTIFACTS / "countdown_b.png"
        wine_x.crop(first, button["x"], button["y"], button["w"], button["h"], a)
        wine_x.crop(later, button["x"], button["y"], button["w"], button["h"], b)
        differ = subprocess.run(["compare", "-metric", "AE", str(a), str(b), "null:"],
                                capture_output=True, text=True)
        self.assertGreater(int(float(differ.stderr.split()[0])), 20, "the caption changed")
        code, out = box.result()
        elapsed = time.monotonic() - box.shown_at
        self.assertEqual(1, code, out)
        self.assertGreater(elapsed, 2.0)
        # Three seconds after it was made, plus up to 2 s for Wine to hide it.
        self.assertLess(elapsed, 7.0)
        a.unlink()
        b.unlink()


if __name__ == "__main__":
    if BIN is None:
        sys.exit(__doc__)
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    unittest.main(argv=[sys.argv[0], "-v"])
