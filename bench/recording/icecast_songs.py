"""The pieces of bench/recording/icecast-songs.sh: a source client that plays
songs of steady tones into a real Icecast and sets each song's title through
its admin interface the moment the song's first byte goes out; a watcher that
notes, on one clock, when each tone starts at the sound server's monitor and
when the player's title label changes; and an analyser that decodes each
recorded file and says how many seconds of which song it holds.

    icecast_songs.py source PORT MOUNT CODEC SONGS SECONDS WORKDIR
    icecast_songs.py watch SECONDS OUT.json
    icecast_songs.py analyse RECORDINGS_DIR SONGS SECONDS EVENTS.json
    icecast_songs.py placement PORT MOUNT SECONDS

placement listens as a second listener and says where the server put each
title in its stream against where that song's tone begins in the same
bytes: Icecast sends a title at the first metadata point after the change,
so what any listener shows lags its song by up to one metadata interval.

Song k (1-based) is a sine of tone(k) Hz titled "Artist k - Song k"."""
import base64
import glob
import json
import os
import socket
import subprocess
import sys
import threading
import time
import urllib.parse
import urllib.request

RATE = 44100
WINDOW = 441  # 10 ms of mono samples


def tone(k):
    return 300 + 160 * k


def title(k):
    return f"Artist {k} - Song {k}"


def song_of(freq):
    """The song whose tone lies within 40 Hz of freq, or 0 (silence, a mix)."""
    k = round((freq - 300) / 160)
    return k if k >= 1 and abs(freq - tone(k)) < 40 else 0


def freq_of(samples):
    """A steady tone's frequency from its zero crossings (0: silence)."""
    if max(abs(s) for s in samples) < 200:
        return 0.0
    crossings = sum(1 for a, b in zip(samples, samples[1:]) if (a < 0) != (b < 0))
    return crossings * RATE / (2 * len(samples))


def mono_windows(raw):
    import array
    pcm = array.array("h")
    pcm.frombytes(raw[: len(raw) // 2 * 2])
    for i in range(0, len(pcm) - WINDOW + 1, WINDOW):
        yield pcm[i : i + WINDOW]


# --- the source -----------------------------------------------------------

ENCODERS = {
    "mp3": (["-c:a", "libmp3lame", "-b:a", "128k", "-write_xing", "0", "-id3v2_version", "0",
             "-f", "mp3"], "audio/mpeg"),
    "aac": (["-c:a", "aac", "-b:a", "128k", "-f", "adts"], "audio/aac"),
    "ogg": (["-c:a", "libvorbis", "-b:a", "128k", "-f", "ogg"], "application/ogg"),
    "opus": (["-c:a", "libopus", "-b:a", "128k", "-f", "ogg"], "application/ogg"),
}


def source(port, mount, codec, songs, seconds, workdir):
    args, content_type = ENCODERS[codec]
    files = []
    for k in range(1, songs + 1):
        path = os.path.join(workdir, f"song{k}.{codec}")
        meta = ["-metadata", f"title=Song {k}", "-metadata", f"artist=Artist {k}"]
        subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                        f"sine=frequency={tone(k)}:sample_rate={RATE}:duration={seconds}",
                        "-ac", "2", *meta, *args, path], check=True)
        files.append(path)
    auth = base64.b64encode(b"source:src").decode()
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    sock.sendall((f"PUT {mount} HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Basic {auth}\r\n"
                  f"Content-Type: {content_type}\r\nIce-Public: 0\r\nExpect: 100-continue\r\n\r\n")
                 .encode())
    reply = sock.recv(4096)
    if b" 100 " not in reply.split(b"\r\n")[0] and b" 200 " not in reply.split(b"\r\n")[0]:
        sys.exit(f"Icecast refused the source: {reply[:200]!r}")
    admin = urllib.request.HTTPPasswordMgrWithDefaultRealm()
    admin.add_password(None, f"http://127.0.0.1:{port}/", "admin", "adm")
    opener = urllib.request.build_opener(urllib.request.HTTPBasicAuthHandler(admin))
    start = time.monotonic()
    sent_seconds = 0.0
    for k, path in enumerate(files, 1):
        data = open(path, "rb").read()
        if codec in ("mp3", "aac"):
            song = urllib.parse.quote(title(k))
            opener.open(f"http://127.0.0.1:{port}/admin/metadata?mount={mount}&mode=updinfo"
                        f"&song={song}", timeout=5).read()
        print(json.dumps({"sent": k, "at": time.monotonic()}), flush=True)
        # Paced at the song's own rate, a tenth of a second at a time; the
        # first two seconds go at once, as a source's burst would.
        step = max(1, int(len(data) / seconds / 10))
        for i in range(0, len(data), step):
            sock.sendall(data[i : i + step])
            sent_seconds += step / (len(data) / seconds)
            ahead = start + sent_seconds - 2.0 - time.monotonic()
            if ahead > 0:
                time.sleep(ahead)
    time.sleep(3)
    sock.close()


# --- the watcher ----------------------------------------------------------

def watch(seconds, out):
    import pyatspi
    from gi.repository import GLib

    events = []
    lock = threading.Lock()

    def note(kind, value):
        with lock:
            events.append({"kind": kind, "value": value, "at": time.monotonic()})

    def monitor():
        proc = subprocess.Popen(["parec", "-d", "null.monitor", "--raw", "--format=s16le",
                                 f"--rate={RATE}", "--channels=1", "--latency-msec=10"],
                                stdout=subprocess.PIPE)
        current, candidate, since = 0, 0, 0
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            raw = proc.stdout.read(WINDOW * 2)
            if not raw:
                break
            at = time.monotonic()
            for w in mono_windows(raw):
                k = song_of(freq_of(w))
                if k == candidate:
                    since += 1
                else:
                    candidate, since = k, 1
                # A tone held for 50 ms is a song being heard; its first
                # window is when it began.
                if since == 5 and candidate and candidate != current:
                    current = candidate
                    with lock:
                        events.append({"kind": "heard", "value": current, "at": at - 0.04})
        proc.terminate()

    def on_name(event):
        try:
            name = event.source.name
        except Exception:
            return
        if name.startswith("Artist "):
            note("title", name)

    threading.Thread(target=monitor, daemon=True).start()
    pyatspi.Registry.registerEventListener(on_name, "object:property-change:accessible-name")
    GLib.timeout_add(int(seconds * 1000), lambda: pyatspi.Registry.stop())
    pyatspi.Registry.start()
    with lock:
        json.dump(events, open(out, "w"), indent=1)


# --- where the server puts the titles --------------------------------------

def placement(port, mount, seconds):
    import re
    sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    sock.sendall(f"GET {mount} HTTP/1.0\r\nIcy-MetaData: 1\r\n\r\n".encode())
    data = b""
    while b"\r\n\r\n" not in data and len(data) < 65536:
        data += sock.recv(4096)
    head, body = data.split(b"\r\n\r\n", 1)
    found = re.search(rb"icy-metaint:\s*(\d+)", head, re.I)
    if not found:
        print("the server sends no ICY titles here (an Ogg stream carries its own)")
        return
    metaint = int(found.group(1))
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        chunk = sock.recv(65536)
        if not chunk:
            break
        body += chunk
    audio, titles, i = bytearray(), [], 0
    while i + metaint < len(body):
        audio += body[i : i + metaint]
        length = body[i + metaint] * 16
        i += metaint + 1
        if length:
            text = body[i : i + length].rstrip(b"\0").decode(errors="replace")
            titles.append((len(audio), text))
        i += length
    pcm = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", "-", "-f", "s16le", "-ac",
                          "1", "-ar", str(RATE), "-"], input=bytes(audio),
                         capture_output=True).stdout
    starts, current, held = {}, 0, 0
    for n, w in enumerate(mono_windows(pcm)):
        k = song_of(freq_of(w))
        held = held + 1 if k == current else 1
        current = k
        if held == 5 and k and k not in starts:
            starts[k] = (n - 4) * WINDOW / RATE
    per_second = len(audio) / max(len(pcm) / 2 / RATE, 1e-9)
    print(f"where the server put the titles (metadata every {metaint} bytes, "
          f"{metaint / per_second:.2f} s):")
    for offset, text in titles:
        k = next((k for k in starts if title(k) in text), 0)
        if k and starts[k] > 0.5:
            print(f"  song {k}: title {1000 * (offset / per_second - starts[k]):+6.0f} ms after "
                  f"its first sound in the same stream")


# --- the analyser ---------------------------------------------------------

def analyse(folder, songs, seconds, events_file):
    events = json.load(open(events_file))
    heard = {e["value"]: e["at"] for e in events if e["kind"] == "heard"}
    titled = {}
    for e in events:
        if e["kind"] == "title":
            k = int(e["value"].split()[1])
            titled.setdefault(k, e["at"])
    print("title label against the sound at the monitor:")
    for k in sorted(heard):
        if k in titled:
            print(f"  song {k}: title {1000 * (titled[k] - heard[k]):+7.0f} ms after its sound")
        else:
            print(f"  song {k}: heard, title never shown")
    print("recorded files:")
    files = sorted(glob.glob(os.path.join(folder, "**", "*.*"), recursive=True),
                   key=os.path.getmtime)
    for path in files:
        decoded = subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "s16le",
                                  "-ac", "1", "-ar", str(RATE), "-"], capture_output=True)
        counts = {}
        for w in mono_windows(decoded.stdout):
            k = song_of(freq_of(w))
            counts[k] = counts.get(k, 0) + WINDOW / RATE
        named = os.path.basename(path)
        own = next((k for k in range(1, songs + 1) if f"Song {k}" in named), 0)
        parts = ", ".join(f"song {k}: {s:.2f} s" if k else f"other: {s:.2f} s"
                          for k, s in sorted(counts.items()))
        errors = decoded.stderr.decode(errors="replace").strip().splitlines()
        print(f"  {named}: {parts}; own song {own}: "
              f"{100 * counts.get(own, 0) / seconds:.1f} % of it; "
              f"decoder {'silent' if not errors else 'said: ' + errors[0][:80]}")


if __name__ == "__main__":
    what = sys.argv[1]
    if what == "source":
        source(int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5]), float(sys.argv[6]),
               sys.argv[7])
    elif what == "watch":
        watch(float(sys.argv[2]), sys.argv[3])
    elif what == "placement":
        placement(int(sys.argv[2]), sys.argv[3], float(sys.argv[4]))
    elif what == "analyse":
        analyse(sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), sys.argv[5])
    else:
        sys.exit(__doc__)
