#!/usr/bin/env python3
"""The fault matrix's real runs: vestrun against vestrun-sim, one run per case.

The frames x faults grid runs in the quick suite over the fake line
(tests/test_fault_matrix.cpp). What is left here needs the real processes:

- one real run per exchange kind (a command, an image frame, the status
  wait, the card output, the reset) under a fault it gets over or not;
- runs against a machine whose first reply comes 1.5 s late (I, Y, G and
  an image frame): the card is issued, the late frame's first attempt logs
  "× 受信失敗リトライ", its second reads the late ACK, and no left-over dump
  comes between the two attempts of one exchange;
- the hostile machine: garbage, oversized and split replies, a greeting of
  many kilobytes, and mixes of them on single frames. Every run must end
  (through the reset path or with the card), and in the sanitizer build
  without a report of a read past a buffer.

Each case checks the exit status, the last log lines, the failure line of
the failing step, every unit on the wire, the card the machine kept (stripe
and picture intact) or its absence, no crash, no sanitizer report.

    tests/scripts/fault-matrix.py [--build DIR | --vestrun BIN --sim BIN]
                            [--jobs N] [--only TEXT]... [--doc FILE] [--list]

The binaries: --vestrun and --sim; else DIR/vestrun and DIR/sim/vestrun-sim
when --build is given; else $VESTRUN_BIN and $VESTRUN_SIM_BIN (as CTest sets
them); else those of the folder build. --doc FILE replaces the real-run part
of that Markdown file (from "## Real runs" on; the frames x faults part above
it is written by the quick suite's matrix test). Exit status 0 when every
case ends as modelled, 1 on any deviation, 2 when it cannot start.

Standard library only. A run is mostly the machine's fixed pauses, so many
cases run side by side even on two cores.
"""
import argparse
import concurrent.futures
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time

# ---------------------------------------------------------------------------
# The sample patient, its stripe and the picture.

PATIENT = [b"12345", "山田太郎".encode("cp932"), "ヤマダ　タロウ".encode("cp932"), b"1", b"19700101", b"20240401"]
# The 69 bytes the sample patient's stripe carries.
STRIPE = bytes.fromhex(
    "202020202031323334350E544F405E0F200E405B330F20202020202020202020202031"
    "39373030313031311B4B3B33454442404F3A2121212121211B483230323430343031"
)

# A picture of 96 x 24 pixels whose ink goes out in three "M" frames: two
# spans in the top byte-row, too far apart to be merged, and one in the third
# byte-row; the byte-row between them is empty.
PIC_W, PIC_H = 96, 24
INK_REGIONS = [(2, 21, 0, 8), (60, 81, 0, 8), (30, 51, 16, 24)]  # x0, x1, y0, y1, ends excluded


def picture_pixels():
    pix = [[0] * PIC_W for _ in range(PIC_H)]
    for x0, x1, y0, y1 in INK_REGIONS:
        for y in range(y0, y1):
            for x in range(x0, x1):
                # A pattern rather than solid ink, so that a column or a row
                # out of place shows on the card.
                if (x + 2 * y) % 3 != 0 or x == x0:
                    pix[y][x] = 1
    return pix


def le(value, size):
    return value.to_bytes(size, "little")


def bmp_1bit(pix):
    """A bottom-up 1-bit BMP: palette index 0 white, 1 ink."""
    h, w = len(pix), len(pix[0])
    stride = (w + 31) // 32 * 4
    data = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            if pix[y][x]:
                row[x // 8] |= 0x80 >> (x % 8)
        data += row
    off = 14 + 40 + 8
    head = b"BM" + le(off + len(data), 4) + le(0, 4) + le(off, 4)
    info = (le(40, 4) + le(w, 4) + le(h, 4) + le(1, 2) + le(1, 2) + le(0, 4) + le(len(data), 4)
            + le(2835, 4) + le(2835, 4) + le(2, 4) + le(0, 4))
    return head + info + b"\xff\xff\xff\x00\x00\x00\x00\x00" + bytes(data)


def read_bmp_1bit(data):
    """Palette indices of a 1-bit BMP, top row first; None if it is not one."""
    if len(data) < 62 or data[:2] != b"BM":
        return None
    off = int.from_bytes(data[10:14], "little")
    w = int.from_bytes(data[18:22], "little", signed=True)
    h = int.from_bytes(data[22:26], "little", signed=True)
    if int.from_bytes(data[28:30], "little") != 1 or w <= 0 or h == 0:
        return None
    stride = (w + 31) // 32 * 4
    if off + stride * abs(h) > len(data):
        return None
    pix = []
    for r in range(abs(h)):
        src = r if h < 0 else abs(h) - 1 - r
        row = data[off + src * stride: off + (src + 1) * stride]
        pix.append([(row[x // 8] >> (7 - x % 8)) & 1 for x in range(w)])
    return pix


# ---------------------------------------------------------------------------
# Frames, faults and how one exchange goes under each fault.

# The units the stand-in records (--frames), by name; the magnetic record is
# "9", image frames are M1, M2, ... in the order they first came.
FIXED_FRAMES = {
    "02 49 03 4A": "I",
    "02 5A 34 31 32 03 6E": "Z412",
    "02 59 03 5A": "Y",
    "02 31 32 03 00": "12",
    "02 47 31 03 75": "G",
    "02 46 31 03 74": "F",
    "02 5A 30 31 30 03 68": "Z010",
    "02 5F 03 5C": "_",
    "06": "ACK",
}

# What each step of the run logs when its exchange fails.
FAIL_LINE = {
    "I": "× バッファクリア失敗",
    "M": "× 外部イメージ展開失敗",
    "Z412": "× LED設定失敗",
    "Y": "× ステータスチェック失敗",
    "9": "× 磁気書込失敗",
    "12": "× 磁気書込＋待機失敗",
    "G": "× カード出力失敗",
    "F": "× カード出力失敗",
    "Z010": "× LED設定失敗",
    "_": "× プリンターリセット失敗",
}

# Outcomes of a run.
CARD = "card"                  # issued: last line 切断; the machine kept the card
RESET = "reset"                # reset path; the machine took the reset
RESET_CARD = "reset+card"      # reset path, though the machine did put the card out
DEAD = "reset, line gone"      # reset path; the reset cannot be sent any more
NO_RESET = "reset refused"     # reset path; the reset itself fails
WAIT = "waits"                 # the wait for a card goes on; stopped (SIGTERM) after a bound


def command_of(name):
    return "M" if name.startswith("M") else name


def name_units(lines):
    names, images = [], []
    for line in lines:
        if line in FIXED_FRAMES:
            names.append(FIXED_FRAMES[line])
        elif line.startswith("02 39 "):
            names.append("9")
        elif line.startswith("02 4D "):
            if line not in images:
                images.append(line)
            names.append("M%d" % (images.index(line) + 1))
        else:
            names.append("?" + line[:20])
    return names


# One pass of a wait that goes on: the status request fails twice (its two
# attempts), then the LED is lit again and taken.
WAIT_PASS = ["Z412", "ACK", "Y", "Y"]

# ---------------------------------------------------------------------------
# Section 2: the hostile machine. Each case: name, stand-in options, outcome,
# the whole wire, and what happens. Every reply that is not the answer to the
# frame just sent is taken off before the next frame goes out, so one bad
# reply costs at most the exchange it came in.

HEAD = "I ACK M1 ACK M2 ACK M3 ACK Z412 ACK"
# After an image frame that failed on a split reply, a piece of that reply
# may still be on its way when the reset goes out; the reset then reads it
# with its own answer, and its second attempt is taken.
SPLIT_LATE = " | I ACK M1 M1 _ _ ACK | I ACK M1 M1 _ _"
SPLIT_ENDS = (RESET, RESET, NO_RESET)
SPLIT_WHY = (" (When a piece of the image frame's reply is still on its way as the reset goes out, the "
             "reset's first attempt reads it and its second is taken: also right. On a loaded machine the "
             "pieces of the reset's own split answer may straddle both of its reads, and the reset fails: "
             "also right for a machine that cuts every answer.)")
WHOLE = HEAD + " Y ACK 9 ACK 12 ACK G ACK Z010 ACK"

# Section 1: one real run per exchange kind, and the late first replies.
REAL = [
    ("command: NAK once on Z412", ["--fault", "Z412:nak"], CARD, WHOLE.replace("Z412 ACK", "Z412 Z412 ACK"),
     "The LED command is refused once; the frame goes again 2 s later and is taken."),
    ("image frame: NAK once on M2", ["--fault", "M#2:nak"], CARD, WHOLE.replace("M2 ACK", "M2 M2 ACK"),
     "The second image frame is refused once and sent again at once."),
    ("status wait: no card at the first request", ["--card-after", "2"], CARD,
     WHOLE.replace("Y ACK", "Y ACK Z412 ACK Y ACK"),
     "The first status finds no card: the LED is lit again, 3 s pass, the second status finds it."),
    ("card output: no result on G", ["--fault", "G:no-result"], RESET_CARD, HEAD + " Y ACK 9 ACK 12 ACK G _ ACK",
     "The card goes out but its result never comes: the reset path with the card out."),
    ("reset: NAK once on the reset", ["--fault", "9:dle", "--fault", "_:nak"], RESET, HEAD + " Y ACK 9 _ _ ACK",
     "The refused stripe leads to the reset, which is refused once and taken the second time."),
]

# A first reply 1.5 s late on every receipt of the frame (for the image
# frame: both attempts of M1): the retry reads the late ACK. The frame whose
# exchange is checked in the log, and its wire bytes (None: an image frame).
LATE = [
    ("late 1.5 s on I", ["--fault", "I:late=1500"], "I", "02 49 03 4A", WHOLE.replace("I ACK", "I I ACK", 1)),
    ("late 1.5 s on Y", ["--fault", "Y:late=1500"], "Y", "02 59 03 5A", WHOLE.replace("Y ACK", "Y Y ACK")),
    ("late 1.5 s on G", ["--fault", "G:late=1500"], "G", "02 47 31 03 75", WHOLE.replace("G ACK", "G G ACK")),
    ("late 1.5 s on M1", ["--fault", "M#1:late=1500", "--fault", "M#2:late=1500"], "M1", None,
     WHOLE.replace("M1 ACK", "M1 M1 ACK")),
]
# The answer to M1's repeat comes 2.5 s after M1 first went out, when the
# window of M2 (sent at 1.5 s) closes: M2 takes it or is sent again and then
# takes it; both are right.
LATE_ALSO = {"M1": [WHOLE.replace("M1 ACK M2 ACK", "M1 M1 ACK M2 M2 ACK")]}
LATE_WHY = ("The first attempt reads nothing after 1 s (× 受信失敗リトライ) and the frame goes again; the second "
            "attempt reads what waits, the late ACK of the first sending, with no left-over dump between the two "
            "attempts; the result follows and the card is issued.")

HOSTILE = [
    ("garbage on every frame", ["--fault", "*:garbage"], NO_RESET, "I I _ _",
     "Every first reply is ten random bytes without an answer code: two unknown codes end the clear of all "
     "buffers, two more the reset. The random result replies behind them never reach a later exchange."),
    ("garbage on image frames", ["--fault", "M:garbage"], (NO_RESET, RESET), "I ACK M1 M1 _ _|I ACK M1 M1 _ ACK",
     "The first image frame gets two unknown codes (its second attempt reads the rest of the first random "
     "reply). The image exchange gives up without a pause, so the random answer to the repeat may come only "
     "after the reset has taken off what waited: the reset then reads random bytes on both attempts and fails; "
     "when the answer comes in time, it is taken off and the reset is taken. Either way the run ends."),
    ("garbage on the stripe", ["--fault", "9:garbage"], RESET, HEAD + " Y ACK 9 9 _ ACK",
     "Two unknown codes fail the magnetic write; the reset is taken."),
    ("garbage on the card output", ["--fault", "G:garbage"], RESET, HEAD + " Y ACK 9 ACK 12 ACK G G _ ACK",
     "The machine does not put the card out under garbage; the output fails and the reset is taken."),
    ("garbage on the LED off", ["--fault", "Z010:garbage"], CARD, HEAD + " Y ACK 9 ACK 12 ACK G ACK Z010 Z010",
     "The card is out; the LED-off result is not looked at."),
    ("garbage on the reset", ["--fault", "9:dle", "--fault", "_:garbage"], NO_RESET, HEAD + " Y ACK 9 _ _",
     "The refused stripe leads to the reset, which gets two unknown codes; the run still ends."),
    ("garbage on every status request", ["--fault", "Y:garbage"], WAIT, HEAD + " Y Y",
     "No status can ever be read: the wait goes on with the LED relit on every pass, by design; the random "
     "result replies never reach the LED exchanges in between."),
    ("garbage once on the status request", ["--fault", "Y#1:garbage"], CARD,
     HEAD + " Y Y Z412 ACK Y ACK 9 ACK 12 ACK G ACK Z010 ACK",
     "The first attempt reads ten random bytes; the second reads what waits, the rest of that random reply, "
     "not its own answer: the status check fails, the LED is lit again, and the next request finds the card "
     "(the answer to the repeat is taken off before the LED frame)."),
    ("garbage, then oversize on I", ["--fault", "I#1:garbage", "--fault", "I#2:oversize"], RESET, "I I _ ACK",
     "The second attempt reads what waits, the rest of the random reply to the first: another unknown code. The "
     "clear of all buffers fails; the reset takes off the oversized answer to the repeat and is taken."),
    ("garbage, then split on Z412", ["--fault", "Z412#1:garbage", "--fault", "Z412#2:split"], RESET,
     HEAD.replace("Z412 ACK", "Z412 Z412 _ ACK"),
     "The second attempt reads what waits, the rest of the random reply to the first: another unknown code. The "
     "LED command fails; the reset takes off the split answer to the repeat and is taken."),
    ("oversize on every frame", ["--fault", "*:oversize"], CARD, WHOLE,
     "Every result reply is 1000 bytes: the first 256 are read (the status block among them), the rest is "
     "taken off before the next frame; card, stripe and picture intact."),
    ("split on every frame", ["--fault", "*:split"], SPLIT_ENDS, "I ACK M1 M1 _ ACK" + SPLIT_LATE,
     "An image frame takes the first byte that comes as the whole first reply: no answer code at offset 9 "
     "twice, the picture fails; the reset, a command, waits for its reply to come whole." + SPLIT_WHY),
    ("split on every command frame",
     ["--fault", "I:split", "--fault", "Z:split", "--fault", "Y:split", "--fault", "9:split",
      "--fault", "1:split", "--fault", "G:split"], CARD, WHOLE,
     "Commands read after fixed pauses, by which the pieces have all come."),
    ("split, then garbage on M2", ["--fault", "M#2:split", "--fault", "M#3:garbage"], RESET,
     "I ACK M1 ACK M2 M2 _ ACK",
     "The second image frame fails on both attempts (one byte of a reply, then random bytes); the reset is "
     "taken."),
    ("greeting of 8 KiB", ["--greeting", "8192"], CARD, WHOLE,
     "256 bytes are taken off on connecting, the rest before the first frame: the run is not disturbed."),
    ("greeting of 8 KiB, split replies", ["--greeting", "8192", "--fault", "*:split"], SPLIT_ENDS,
     "I ACK M1 M1 _ ACK" + SPLIT_LATE,
     "As split on every frame: the greeting is gone before I." + SPLIT_WHY),
    ("greeting of 1 MiB", ["--greeting", "1048576"], NO_RESET, "I I _ _",
     "More than is taken off before one frame (16 KiB): I and the reset read greeting text as their first "
     "replies; the run ends, nothing read past a buffer."),
]

# ---------------------------------------------------------------------------
# Cases.


class Case:
    def __init__(self, section, name, sim, outcome, wire, tail_at, style=b"0", row=None, reason=""):
        self.section = section
        self.name = name
        self.sim = sim            # options of the stand-in (fault rules and others)
        self.outcome = outcome
        self.wire = wire          # expected units (WAIT: up to the wait)
        self.also = []            # other wires that are just as right
        self.tail_at = tail_at    # where the units after the failure start, or None
        self.style = style
        self.row = row
        self.late_frame = None
        self.alts = []            # (outcome, wire) pairs when the run may end either way
        self.reason = reason
        # Filled by the run.
        self.deviations = []
        self.exit = None
        self.after = None
        self.seconds = 0.0

    def rules(self):
        return [self.sim[i + 1] for i, a in enumerate(self.sim) if a == "--fault"]

    def failing(self):
        """The frame whose failure leads to the reset path (M2, 9, ...), or None."""
        if self.tail_at is None:
            return None
        return self.wire[[i for i in range(self.tail_at) if self.wire[i] != "ACK"][-1]]


def build_cases():
    cases = []
    for section, table in (("real", REAL), ("hostile", HOSTILE)):
        for name, sim, outcome, wire, reason in table:
            wires = [w.split() for w in wire.split("|")]
            # A tuple of outcomes: the run may end either way, each with its wire.
            alts = list(zip(outcome, wires)) if isinstance(outcome, tuple) else []
            outcome = outcome[0] if alts else outcome
            units = wires[0]
            tail_at = None
            if outcome not in (CARD, WAIT):
                tail_at = max(i for i, n in enumerate(units) if n not in ("_", "ACK")) + 1
            case = Case(section, name, sim, outcome, units, tail_at, reason=reason)
            case.also = [] if alts else wires[1:]
            case.alts = alts
            cases.append(case)
    for name, sim, row, frame_hex, wire in LATE:
        case = Case("late", name, sim, CARD, wire.split(), None, row=row, reason=LATE_WHY)
        case.late_frame = frame_hex
        case.also = [w.split() for w in LATE_ALSO.get(row, [])]
        cases.append(case)
    return cases


# ---------------------------------------------------------------------------
# Running one case.

STAMP = re.compile(rb"^[ \d]\d/[ \d]\d \d\d:\d\d:\d\d ")
SANITIZER = re.compile(rb"ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:|UndefinedBehaviorSanitizer")
RUN_LIMIT = 150  # s; a run still going then has hung
WAIT_BOUND = 40  # s; a wait that goes on is looked at after this


def sj(text):
    return text.encode("cp932")


def log_messages(out):
    """The run log's messages without their time stamps."""
    msgs = []
    for line in out.split(b"\n"):
        m = STAMP.match(line)
        if m and len(line) > m.end():
            msgs.append(line[m.end():])
    return msgs


def start_sim(sim_bin, args, err_path):
    """vestrun-sim on a free port; its port is read from its first line."""
    with open(err_path, "wb") as err:
        proc = subprocess.Popen([sim_bin, "--listen", "127.0.0.1:0"] + args, stdout=subprocess.PIPE,
                                stderr=err, stdin=subprocess.DEVNULL)
    line = b""
    deadline = time.monotonic() + 20
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([proc.stdout], [], [], left)[0]:
            break
        chunk = os.read(proc.stdout.fileno(), 256)
        if not chunk:
            break
        line += chunk
    m = re.match(rb"listening [\d.]+:(\d+)\n", line)
    if not m:
        proc.kill()
        proc.wait()
        return None, 0
    return proc, int(m.group(1))


def finish(proc, timeout):
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.terminate()
        try:
            return proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            proc.kill()
            return proc.wait()


def read(path, mode="rb"):
    if not os.path.exists(path):
        return b"" if "b" in mode else ""
    with open(path, mode) as f:
        return f.read()


def run_case(case, vestrun_bin, sim_bin, picture_path, picture):
    work = tempfile.mkdtemp(prefix="vestrun-matrix-")
    try:
        run_in(case, vestrun_bin, sim_bin, picture_path, picture, work)
    except Exception as e:  # a case that cannot be run is a deviation, not the end of the matrix
        case.deviations.append("the case could not be run: %r" % e)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return case


def run_in(case, vestrun_bin, sim_bin, picture_path, picture, work):
    dev = case.deviations
    out_dir, frames_path = os.path.join(work, "out"), os.path.join(work, "frames.txt")
    sim_log, out_path, err_path = (os.path.join(work, n) for n in ("sim.log", "run.log", "run.err"))
    sim, port = start_sim(sim_bin, ["--once", "--out", out_dir, "--frames", frames_path,
                                    "--size", "%dx%d" % (PIC_W, PIC_H)] + case.sim, sim_log)
    if sim is None:
        dev.append("vestrun-sim did not start: %s" % read(sim_log).decode("utf-8", "replace")[-300:])
        return
    args = [vestrun_bin.encode(), b"127.0.0.1", str(port).encode(), case.style, picture_path.encode()] + PATIENT
    t0 = time.monotonic()
    with open(out_path, "wb") as fo, open(err_path, "wb") as fe:
        run = subprocess.Popen(args, stdout=fo, stderr=fe, stdin=subprocess.DEVNULL)
        try:
            code = run.wait(timeout=WAIT_BOUND if case.outcome == WAIT else RUN_LIMIT)
            running = False
        except subprocess.TimeoutExpired:
            running = True
            run.terminate()
            code = finish(run, 10)
    case.seconds = time.monotonic() - t0
    sim_code = finish(sim, 15)
    err, slog = read(err_path), read(sim_log)
    msgs = log_messages(read(out_path))
    wire = name_units([l for l in read(frames_path, "r").split("\n") if l])

    # No crash, no hang, no sanitizer report.
    if SANITIZER.search(err):
        dev.append("sanitizer report from vestrun: " + err.decode("utf-8", "replace")[:600])
    if SANITIZER.search(slog):
        dev.append("sanitizer report from vestrun-sim")
    if sim_code != 0:
        dev.append("vestrun-sim ended with %s" % sim_code)
    if case.outcome == WAIT:
        case.exit = "—"
        if not running:
            dev.append("the wait ended by itself (exit %s)" % code)
    else:
        case.exit = code
        if running:
            dev.append("still running after %d s: a hang" % RUN_LIMIT)
        elif code < 0:
            dev.append("ended by signal %d" % -code)
        elif code != 0:
            dev.append("exit status %d, expected 0" % code)
    for r in case.rules():
        if ("fault %s applied" % r).encode() not in slog:
            dev.append("the stand-in never applied %s" % r)

    if case.alts:
        # Judged by the way the run ended: the reset taken or not.
        taken = bool(msgs) and msgs[-1] == sj("プリンターリセット成功")
        fits = [(o, u) for o, u in case.alts if (o in (RESET, RESET_CARD)) == taken]
        if fits:
            # An outcome may come with more than one wire: the first is the one
            # shown, the others are as right.
            case.outcome, case.wire = fits[0]
            case.also = [u for o, u in fits[1:] if o == fits[0][0]]
            units = case.wire
            case.tail_at = max(i for i, n in enumerate(units) if n not in ("_", "ACK")) + 1
    check_log(case, msgs, dev)
    check_wire(case, wire, dev)
    check_card(case, out_dir, picture, dev)


def check_log(case, msgs, dev):
    outcome = case.outcome
    last = msgs[-1] if msgs else b""
    ended, reset = sj("切断") in msgs, sj("切断（プリンターリセット）") in msgs
    if outcome == CARD:
        if last != sj("切断") or reset:
            dev.append("the run did not end with 切断 (last line %s)" % last.decode("cp932", "replace"))
    elif outcome == WAIT:
        # Only the SIGTERM at the bound ends the wait: its stop line, then the
        # reset path.
        stop = sj("× 中断されました（シグナル15）")
        if stop not in msgs:
            dev.append("no stop line after the SIGTERM at the bound")
        elif ended or (reset and msgs.index(sj("切断（プリンターリセット）")) != msgs.index(stop) + 1):
            dev.append("the wait ended")
        if msgs.count(sj(FAIL_LINE["Y"])) < 2:
            dev.append("fewer than two failed status checks before the bound")
    else:
        if ended:
            dev.append("切断 logged on a run that failed")
        want_last = "プリンターリセット成功" if outcome in (RESET, RESET_CARD) else "× プリンターリセット失敗"
        if last != sj(want_last):
            dev.append("last line %s, expected %s" % (last.decode("cp932", "replace"), want_last))
        if outcome == DEAD and sj("× SCK_iSend 送信失敗") not in msgs:
            dev.append("the reset went out on a line that is gone")
        # The failing step's failure line comes directly before the reset path;
        # a status check on a dropped line leaves the wait through the LED.
        failing = command_of(case.failing())
        want = FAIL_LINE["Z412" if failing == "Y" else failing]
        i = msgs.index(sj("切断（プリンターリセット）")) if reset else -1
        if i <= 0 or msgs[i - 1] != sj(want):
            dev.append("the line before 切断（プリンターリセット） is not %s" % want)
    if case.section == "late":
        check_late(case, msgs, dev)


def dump(frame_hex):
    n = len(frame_hex.split())
    return sj("送信サイズ=%3d 電文=[" % n) + frame_hex.encode() + b" ]"


def check_late(case, msgs, dev):
    """The late frame's exchange: nothing read after 1 s, the retry line, the
    frame again with no dump of left-overs between, then the late ACK."""
    retry, ack = sj("× 受信失敗リトライ"), sj("<ACK>受信")
    if case.late_frame is None:
        sent = sj("イメージ送信成功")
        i = msgs.index(sent) if sent in msgs else -1
        want = [sent, retry, sent, ack]
        if i < 0 or msgs[i:i + 4] != want:
            dev.append("the image frame's exchange is not: イメージ送信成功, × 受信失敗リトライ, "
                       "イメージ送信成功, <ACK>受信")
        return
    first = dump(case.late_frame)
    i = msgs.index(first) if first in msgs else -1
    nothing = [sj("受信サイズ= -1 電文=[]"), sj("受信結果=-1")]
    want_head = [first, sj("送信成功")] + nothing + [retry, first, sj("送信成功")]
    if i < 0 or msgs[i:i + 7] != want_head:
        dev.append("the %s exchange does not go: frame, nothing read, × 受信失敗リトライ, the frame again "
                   "with no left-over dump between" % case.row)
        return
    tail = msgs[i + 7:i + 10]
    if len(tail) < 3 or not tail[0].startswith(sj("受信サイズ= 10 電文=[")) or not tail[0].endswith(b"06 ]") \
            or tail[1] != sj("受信結果=0") or tail[2] != ack:
        dev.append("the %s retry does not read the late ACK" % case.row)


def check_wire(case, wire, dev):
    want = case.wire
    if case.outcome == WAIT:
        # The stop at the bound cuts the pass in flight and sends the reset.
        if wire[-2:] == ["_", "ACK"]:
            wire = wire[:-2]
        rest = wire[len(want):]
        passes = (WAIT_PASS * (len(rest) // len(WAIT_PASS) + 1))[:len(rest)]
        if wire[:len(want)] != want or rest != passes or len(rest) < len(WAIT_PASS):
            dev.append("wire %s; expected %s, then passes of %s" % (" ".join(wire), " ".join(want),
                                                                    " ".join(WAIT_PASS)))
        return
    if wire in case.also:
        want = wire
    if wire != want:
        dev.append("wire %s, expected %s" % (" ".join(wire), " ".join(want)))
    if case.tail_at is not None and wire[:case.tail_at] == want[:case.tail_at]:
        case.after = wire[case.tail_at:]
        if any(n not in ("_", "ACK") for n in case.after):
            dev.append("a frame other than _ followed the failure: %s" % " ".join(case.after))


def check_card(case, out_dir, picture, dev):
    cards = sorted(d for d in os.listdir(out_dir) if d.startswith("card-")) if os.path.isdir(out_dir) else []
    want = case.outcome in (CARD, RESET_CARD)
    if len(cards) != (1 if want else 0):
        dev.append("%d cards kept, expected %d" % (len(cards), 1 if want else 0))
    if not want or len(cards) != 1:
        return
    folder = os.path.join(out_dir, cards[0])
    stripe = read(os.path.join(folder, "stripe.bin"))
    if stripe != STRIPE:
        dev.append("stripe %s, expected %s" % (stripe.hex(), STRIPE.hex()))
    if read_bmp_1bit(read(os.path.join(folder, "picture.bmp"))) != picture:
        dev.append("the card's picture is not the picture sent")
    output = b"output: rewrite" if case.style == b"1" else b"output: append"
    if output not in read(os.path.join(folder, "card.txt")):
        dev.append("the card went out without %s" % output.decode())


# ---------------------------------------------------------------------------
# The document.


def after_text(case):
    if case.tail_at is None:
        return "—"
    if case.after is None:
        return "?"
    return " ".join(case.after) if case.after else "none"


def write_doc(path, cases, command):
    """Replaces the part of the page from "## Real runs" on; the part above it
    (the frames x faults grid) comes from the quick suite's matrix test."""
    try:
        with open(path, encoding="utf-8") as f:
            head = f.read()
    except FileNotFoundError:
        head = "# Fault matrix\n\n"
    for mark in ("## Real runs", "## Hostile machine"):
        if mark in head:
            head = head[:head.index(mark)]
            break
    bad = sum(1 for c in cases if c.deviations)
    dev = lambda c: " **deviates**" if c.deviations else ""

    def table(section):
        rows = []
        for c in (c for c in cases if c.section == section):
            failing = c.failing()
            after = "%s: %s" % (failing, after_text(c)) if failing else "—"
            outcome = " or ".join(dict.fromkeys(o for o, _ in c.alts)) if c.alts else c.outcome
            if c.alts:
                after = " or ".join(dict.fromkeys("%s: %s" % (failing, " ".join(w[c.tail_at:]) or "none")
                                                  for _, w in c.alts))
            rows.append("| %s | `%s` | %s%s | %s | %s | %s |" % (c.name, " ".join(c.sim), outcome, dev(c), c.exit,
                                                                 after, c.reason))
        return ["| case | stand-in | outcome | exit | after the failure | what happens |",
                "|---|---|---|---|---|---|"] + rows

    o = [
        "## Real runs",
        "",
        "Generated by `%s` (`make matrix`, `tests/fault-matrix.test.sh`): the real `vestrun` against a "
        "`vestrun-sim` of its own (`--once`, the same picture and patient), checking the exit status, the last "
        "log lines, the failure line of the failing step, every unit on the wire (`--frames`), the card kept, "
        "and that nothing crashed or reported a sanitizer error. One run per exchange kind:" % command,
        "",
    ] + table("real") + [
        "",
        "## A machine whose first reply comes 1.5 s late",
        "",
        "`late=1500` holds the whole answer back 1.5 s on every receipt of the frame (for the image frame, "
        "both attempts of M1). Each run checks the log of the late frame's exchange as well.",
        "",
    ] + table("late") + [
        "",
        "## Hostile machine",
        "",
    ] + table("hostile") + [
        "",
        "%d real runs (%d, one per exchange kind; %d late; %d hostile); %s." % (
            len(cases), sum(c.section == "real" for c in cases), sum(c.section == "late" for c in cases),
            sum(c.section == "hostile" for c in cases),
            "every one ends as modelled" if not bad else "%d deviate from the model" % bad),
        "",
    ]
    with open(path, "w", encoding="utf-8") as f:
        f.write(head + "\n".join(o))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", help="build folder with vestrun and sim/vestrun-sim (default: build)")
    ap.add_argument("--vestrun", help="the vestrun binary (default: $VESTRUN_BIN)")
    ap.add_argument("--sim", help="the vestrun-sim binary (default: $VESTRUN_SIM_BIN)")
    ap.add_argument("--jobs", type=int, default=26, help="cases at a time (default 26)")
    ap.add_argument("--only", action="append", default=[], help="only the cases whose name holds this")
    ap.add_argument("--doc", help="write the table of outcomes to this Markdown file")
    ap.add_argument("--list", action="store_true", help="list the cases")
    opt = ap.parse_args()

    cases = build_cases()
    if opt.only:
        cases = [c for c in cases if any(s in c.name for s in opt.only)]
    if opt.list:
        for c in cases:
            print("%-8s %-36s %-17s %s" % (c.section, c.name, c.outcome, " ".join(c.sim)))
        return 0
    if opt.doc and opt.only:
        print("fault-matrix: --doc needs the whole matrix", file=sys.stderr)
        return 2
    # An explicit binary wins over --build, --build over the environment.
    top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    build = os.path.join(top, opt.build or "build")
    vestrun_bin = opt.vestrun or (None if opt.build else os.environ.get("VESTRUN_BIN")) \
        or os.path.join(build, "vestrun")
    sim_bin = opt.sim or (None if opt.build else os.environ.get("VESTRUN_SIM_BIN")) \
        or os.path.join(build, "sim", "vestrun-sim")
    for b in (vestrun_bin, sim_bin):
        if not os.access(b, os.X_OK):
            print("fault-matrix: %s is missing; build first" % b, file=sys.stderr)
            return 2

    work = tempfile.mkdtemp(prefix="vestrun-matrix-pic-")
    try:
        picture = picture_pixels()
        picture_path = os.path.join(work, "card.bmp")
        with open(picture_path, "wb") as f:
            f.write(bmp_1bit(picture))
        # The long cases first, so that the last to finish are short ones.
        order = sorted(cases, key=lambda c: (c.outcome != WAIT, "slow" not in c.name, c.outcome != CARD))
        t0 = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, opt.jobs)) as pool:
            futures = [pool.submit(run_case, c, vestrun_bin, sim_bin, picture_path, picture) for c in order]
            for fut in concurrent.futures.as_completed(futures):
                c = fut.result()
                print("%s %-8s %-36s %-17s %5.1f s" % ("ok " if not c.deviations else "DEV", c.section, c.name,
                                                       c.outcome, c.seconds), flush=True)
                for d in c.deviations:
                    print("      " + d, flush=True)
        wall = time.monotonic() - t0
    finally:
        shutil.rmtree(work, ignore_errors=True)

    bad = [c for c in cases if c.deviations]
    print("\n%d cases: %d as modelled, %d deviating; wall time %.0f s" % (len(cases), len(cases) - len(bad), len(bad),
                                                                       wall))
    for c in bad:
        print("  deviates: %s" % c.name)
    if opt.doc:
        write_doc(opt.doc, cases, "tests/scripts/fault-matrix.py --doc %s" % opt.doc)
        print("written: %s" % opt.doc)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
