#!/usr/bin/env python3
# A renderer that breaks the rules the way VESK_HOSTILE_RENDERER says, for the tests that the app
# takes its renderer for a stranger. It answers the load with the page's facts, then misbehaves.
import fcntl
import os
import signal
import socket
import struct
import time

mode = os.environ.get("VESK_HOSTILE_RENDERER", "")
channel = socket.socket(fileno=3)


def message(kind, payload=b""):
    return struct.pack("<II", kind, len(payload)) + payload


def text(value):
    value = value.encode()
    return struct.pack("<I", len(value)) + value


# Memory the app lent for the next frame, newest last.
lent = []


def receive(fds=None, memory=False):
    # The app's next message; memory it lends comes aside, and is what is returned when asked for.
    head, got_fds = b"", []
    while len(head) < 8:
        data, got, _, _ = socket.recv_fds(channel, 8 - len(head), 4)
        if not data:
            raise SystemExit(0)
        head += data
        got_fds.extend(got)
    kind, length = struct.unpack("<II", head)
    if kind == 5:
        lent.extend(got_fds)
        return (kind, b"") if memory else receive(fds)
    if fds is not None:
        fds.extend(got_fds)
    else:
        for fd in got_fds:
            os.close(fd)
    payload = b""
    while len(payload) < length:
        payload += channel.recv(length - len(payload))
    return kind, payload


def ask():
    # Asks for each URL of VESK_HOSTILE_RENDERER_ASK as a style sheet, as a renderer taken over would for
    # files to send out; what it got becomes the page's title: "1:length" or "0" for each.
    answers = []
    for url in os.environ.get("VESK_HOSTILE_RENDERER_ASK", "").split():
        channel.sendall(message(101, text(url)))
        kind, payload = receive()
        (length,) = struct.unpack_from("<I", payload)
        loaded = payload[4 + length]
        (mime,) = struct.unpack_from("<I", payload, 5 + length)
        (size,) = struct.unpack_from("<I", payload, 9 + length + mime)
        answers.append("1:%d" % size if loaded else "0")
    return " ".join(answers)


def ask_forever():
    # Asks for one style sheet after another, each answer bringing the next question, and never
    # tells of its page.
    asked = 0
    while True:
        channel.sendall(message(101, text("file:///nonexistent/%d.css" % asked)))
        receive()
        asked += 1


def shared_document(payload, fds):
    # What came beside the load: its size, whether it is sealed against change, how long it is.
    (size,) = struct.unpack("<Q", payload[-8:])
    if not fds:
        return "%d none" % size
    seals = fcntl.fcntl(fds[0], fcntl.F_GET_SEALS)
    needed = fcntl.F_SEAL_SHRINK | fcntl.F_SEAL_GROW | fcntl.F_SEAL_WRITE
    return "%d %s %d" % (size, "sealed" if seals & needed == needed else "unsealed", os.fstat(fds[0]).st_size)


def frame_memory():
    # The memory lent for the next frame, waited for when the last went back with a frame.
    while not lent:
        receive(memory=True)
    return lent[-1]


def send_frame():
    socket.send_fds(channel, [message(103, frame)], [frame_memory()])
    while lent:
        os.close(lent.pop())


def grow_memory():
    # Tries to hold 3 GiB in the memory lent for frames: growing it, or writing past its end.
    fd, tried = frame_memory(), []
    for attempt in (lambda: os.ftruncate(fd, 3 << 30), lambda: os.pwrite(fd, b"x" * 4096, os.fstat(fd).st_size)):
        try:
            attempt()
            tried.append("held")
        except OSError:
            tried.append("refused")
    return " ".join(tried)


def spin():
    # Lifts its own time limit and works for ever.
    signal.setitimer(signal.ITIMER_PROF, 0)
    signal.signal(signal.SIGPROF, signal.SIG_IGN)
    while True:
        pass


channel.sendall(message(100))
fds = []
kind, payload = receive(fds)
viewport = payload[-48:-8]
width, height, scale, top, left = struct.unpack("<ddddd", viewport)
if mode == "ask-forever":
    ask_forever()
title = ask() if mode == "ask" else shared_document(payload, fds) if mode == "document" else "hostile"
named = os.environ.get("VESK_HOSTILE_RENDERER_ASK", "").split() if mode in ("name", "deaf") else []
# In "name" mode each URL asked is one of the page's pictures and one of its links as well.
pictures = struct.pack("<I", len(named)) + b"".join(text(url) for url in named)
links = struct.pack("<I", len(named)) + b"".join(text(url) + text(url) for url in named)
if mode == "grow-memory":
    title = grow_memory()
# In "first-part" mode the facts are those of a long page's first part: more is to come.
info = (b"\x00" if mode == "first-part" else b"\x01") + text(title) + struct.pack("<d", 100) + b"\x00" + text("") + struct.pack("<I", 0) + links + pictures
channel.sendall(message(102, info))

pixel_width, pixel_height = int(width * scale + 0.999), int(height * scale + 0.999)
stride = pixel_width * 4
frame = viewport + struct.pack("<IIIdd", pixel_width, pixel_height, stride, 100, width)


def memory(size, seals):
    fd = os.memfd_create("frame", os.MFD_ALLOW_SEALING)
    os.ftruncate(fd, size)
    if seals:
        fcntl.fcntl(fd, fcntl.F_ADD_SEALS, seals)
    return fd


sealed = fcntl.F_SEAL_SHRINK | fcntl.F_SEAL_GROW | fcntl.F_SEAL_WRITE
if mode == "unsealed-frame":
    socket.send_fds(channel, [message(103, frame)], [memory(stride * pixel_height, 0)])
elif mode == "frame-too-small":
    socket.send_fds(channel, [message(103, frame)], [memory(stride * (pixel_height - 1), sealed)])
elif mode == "frame-too-big":
    socket.send_fds(channel, [message(103, frame)], [memory(stride * pixel_height + (1 << 30), sealed)])
elif mode == "growable-frame":
    socket.send_fds(channel, [message(103, frame)], [memory(stride * pixel_height, fcntl.F_SEAL_SHRINK | fcntl.F_SEAL_WRITE)])
elif mode == "frame-without-memory":
    channel.sendall(message(103, frame))
elif mode == "endless-header":
    channel.sendall(struct.pack("<II", 103, 0xFFFFFFFF))
elif mode == "unknown-message":
    channel.sendall(message(999, b"x" * 16))
elif mode == "many-descriptors":
    fds = [memory(4096, sealed) for _ in range(8)]
    socket.send_fds(channel, [b"\x00"], fds)
elif mode == "memory-hog":
    # Grows past the limit a page at a time, as a runaway layout would.
    held = []
    for _ in range(20):
        chunk = bytearray(64 << 20)
        for offset in range(0, len(chunk), 4096):
            chunk[offset] = 1
        held.append(chunk)
elif mode == "first-part":
    # Its first part drawn, then gone before the whole is drawn (with VESK_HOSTILE_RENDERER_WHOLE,
    # after telling the whole page's facts), as a renderer past its memory limit.
    send_frame()
    if os.environ.get("VESK_HOSTILE_RENDERER_WHOLE"):
        channel.sendall(message(102, b"\x01" + info[1:]))
        # Read before it goes: the app may drop what a renderer said as it ended.
        time.sleep(0.5)
    os._exit(0)
elif mode in ("ask", "document"):
    send_frame()
elif mode == "name":
    # Shows the page, then answers every click with a link to VESK_HOSTILE_RENDERER_LEAD.
    send_frame()
    lead = os.environ.get("VESK_HOSTILE_RENDERER_LEAD", "")
    while True:
        kind, payload = receive()
        if kind == 3:
            channel.sendall(message(104, payload[:8] + b"\x01" + text(lead) + b"\x00" + struct.pack("<d", 0)))
elif mode == "unasked-link":
    # Shows the page, then names VESK_HOSTILE_RENDERER_LEAD as where a click leads: with
    # VESK_HOSTILE_RENDERER_ASK "next" for a click that never was (the next one's serial), with
    # "answered" for each click again after answering it with nothing there.
    send_frame()
    lead = os.environ.get("VESK_HOSTILE_RENDERER_LEAD", "")

    def answer(serial, url):
        where = b"\x01" + text(url) if url is not None else b"\x00" + text("")
        return message(104, struct.pack("<Q", serial) + where + b"\x00" + struct.pack("<d", 0))

    if os.environ.get("VESK_HOSTILE_RENDERER_ASK") == "next":
        channel.sendall(answer(1, lead))
    else:
        while True:
            kind, payload = receive()
            if kind == 3:
                (serial,) = struct.unpack_from("<Q", payload)
                channel.sendall(answer(serial, None) + answer(serial, lead))
elif mode == "flood":
    # Page facts of 32 MB each, again and again, while the app waits for pixels.
    url = text("http://127.0.0.1/" + "x" * 16000)
    facts = b"\x00" + text("") + struct.pack("<d", 100) + b"\x00" + text("") + struct.pack("<I", 2000) + url * 2000 + struct.pack("<II", 0, 0)
    try:
        for _ in range(40):
            channel.sendall(message(102, facts))
    except OSError:
        pass
elif mode == "chatty-errors":
    # Far more on standard error than anyone reads, terminal escapes included, then a frame.
    chunk = b"\x1b[2J\x1b]0;taken\x07" + b"e" * 4000 + b"\n"
    for _ in range(2048):
        os.write(2, chunk)
    send_frame()
elif mode == "frame-flood":
    # Frame after frame, each as soon as its memory is lent again, faster than anyone shows them;
    # then gone.
    for _ in range(500):
        send_frame()
    os._exit(0)
elif mode == "keep-memory":
    # Frame after frame, as fast as its memory is lent, keeping a descriptor of every memory lent
    # for as long as it may hold one more; then gone.
    kept = []
    for _ in range(300):
        try:
            kept.append(os.dup(frame_memory()))
        except OSError:
            pass
        send_frame()
    os._exit(0)
elif mode == "own-memory":
    # A frame as it should be, but in memory it made itself, which no limit of its own counts.
    socket.send_fds(channel, [message(103, frame)], [memory(stride * pixel_height, sealed)])
elif mode == "grow-memory":
    send_frame()
elif mode == "spin":
    spin()
elif mode == "idle-spin":
    # Shows its page, then works while nothing is asked of it.
    send_frame()
    spin()
elif mode == "after-facts":
    # Shows its page, then says what nobody reads after the whole page's facts: with
    # VESK_HOSTILE_RENDERER_ASK "failures", 1,000 failures of 60 KB each; with "half", half of a
    # 32 MB message.
    send_frame()
    try:
        if os.environ.get("VESK_HOSTILE_RENDERER_ASK") == "failures":
            failure = message(105, text("x" * 60000))
            for _ in range(1000):
                channel.sendall(failure)
        else:
            channel.sendall(struct.pack("<II", 102, 32 << 20) + b"\x01" * (16 << 20))
    except OSError:
        pass
elif mode == "deaf":
    # Shows its page, naming each URL of VESK_HOSTILE_RENDERER_ASK as one of its pictures, then
    # reads nothing more.
    send_frame()
elif mode == "half-a-message":
    # Says part of a frame and nothing more; the app must not wait on it.
    channel.sendall(message(103, frame)[:10])
time.sleep(30)
