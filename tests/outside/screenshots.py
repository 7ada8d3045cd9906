#!/usr/bin/python3
"""Takes the README's pictures of the card station in use: the settings dialog
after 检测, the port open, a card read, a card written and 写卡记录 with a few
cards, each window alone, under Xvfb against the card device emulator, driven
through the accessibility tree.

Run it with scripts/screenshots, which provides the session bus.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from atspi_smoke import ROOT, probe, settings_dialog, start, stop_processes, wait_until


def window_id(title):
    tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True).stdout
    for line in tree.splitlines():
        if f'"{title}"' in line:
            return line.split()[0]
    raise RuntimeError(f"no window {title} on the display")


def shoot(path, title="读写卡程序"):
    subprocess.run(["import", "-window", window_id(title), path], check=True)
    print(f"saved {path}")


def journal_window(st):
    return next(w for w in st.windows() if w is not None and w.name == "写卡记录")


def journal_table(st):
    return next(n for n in st.walk(journal_window(st)) if n.getRole() == st.a.ROLE_TABLE and n.name == "写卡记录")


def require(what, condition):
    if not condition:
        raise RuntimeError(f"{what} did not happen")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"), help="build folder")
    parser.add_argument("--out", default=os.path.join(ROOT, "docs"), help="folder for the pictures")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="screenshots.")
    drive_c = os.path.join(work, "drive-c")
    os.mkdir(drive_c)
    procs = []
    emu = None
    try:
        st, emu, _, _ = start(args.build, work, drive_c, procs)
        dialog = settings_dialog(st)
        require("检测", probe(st, dialog, emu.link) == "读写器已应答。")
        shoot(os.path.join(args.out, "screenshot-settings.png"), "系统设置")
        st.press("SpeedButton1", dialog)
        require("关闭", wait_until(lambda: not st.dialogs(), 5))

        st.press("ToolButton5")
        require("端口打开", wait_until(lambda: st.panel(0) == "COM1－－－OK", 10))
        shoot(os.path.join(args.out, "screenshot-port-open.png"))

        st.set_checked("TK2CheckBox", True)
        st.set_checked("TK3CheckBox", True)
        st.press("BitBtn1")
        require("the read armed", wait_until(lambda: emu.state() == "ok read 3", 10))
        emu.ask("swipe 3")
        require("the card read", wait_until(lambda: st.text("Track3Memo") == "34", 10))
        st.press("ToolButton3")
        require("复位", wait_until(lambda: emu.state() == "ok idle", 5))
        shoot(os.path.join(args.out, "screenshot-card-read.png"))

        st.set_checked("TK3CheckBox", False)
        st.set_text("Track2Memo", "10001")
        st.press("BitBtn3")
        require("the write armed", wait_until(lambda: emu.state() == "ok write 1 10001|", 10))
        emu.ask("swipe")
        require("the card written", wait_until(lambda: st.text("Memo1") == "磁道1卡号:10001", 10))
        shoot(os.path.join(args.out, "screenshot-card-written.png"))

        for number in ("10002", "10003"):
            st.set_text("Track2Memo", number)
            st.press("BitBtn3")
            require(f"{number} armed", wait_until(lambda: emu.state() == f"ok write 1 {number}|", 10))
            emu.ask("swipe")
            require(f"{number} written", wait_until(lambda: st.text("Memo1").endswith(f"磁道1卡号:{number}"), 10))
        st.press("ToolButton9")
        require("记录", wait_until(lambda: "写卡记录" in [w.name for w in st.windows() if w is not None], 10))
        # The picture is taken once the table lists the cards.
        require("the cards listed", wait_until(lambda: journal_table(st).queryTable().nRows >= 3, 10))
        shoot(os.path.join(args.out, "screenshot-journal.png"), "写卡记录")
        st.press(next(n for n in st.walk(journal_window(st)) if n.getRole() == st.a.ROLE_PUSH_BUTTON and n.name == "关闭"))
        st.press("ToolButton7")
    finally:
        stop_processes(procs, emu)
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
