"""The program around the methods: options, access key, bind address,
start-up delay, fault injection, the RosterLink role, HTTP edge cases."""
import http.client
import os
import socket
import sqlite3
import subprocess
import tempfile
import time
import xmlrpc.client

from simhelper import SIM, Checks, Sim, sample_dir

c = Checks()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_sim(*args, timeout=15):
    return subprocess.run([SIM, *args], capture_output=True, text=True, timeout=timeout,
                          env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))


def key_file(content, mode):
    path = os.path.join(tempfile.mkdtemp(prefix="cwsim-key-"), "key")
    with open(path, "wb") as f:
        f.write(content)
    os.chmod(path, mode)
    return path


# Options: (arguments, expected exit code, text expected in the output)
for args, rc, text in [
    (["--help"], 0, "--access-key"),
    (["--bogus"], 2, "unknown option '--bogus'"),
    (["--port", "http"], 2, "--port needs a whole number"),
    (["--port", "70000"], 2, "--port needs a whole number"),
    (["--role", "printer"], 2, "--role must be cardwright or rosterlink"),
    (["--show", "maximized"], 2, "--show must be normal, minimized or hidden"),
    (["--start-delay", "-1"], 2, "--start-delay"),
    (["--fail", "GetCount"], 2, "--fail needs METHOD=CODE:TEXT"),
    (["--fail", "GetCount=x:y"], 2, "CODE"),
    (["--design"], 2, "--design needs a value"),
    (["--show", "hidden", "--port", "0", "--design", "/nonexistent/x.idc"], 1, "cannot open the design"),
    (["--version"], 0, "cardwright-sim " + os.environ.get("CW_VERSION", "")),
    (["--access-key", "k", "--access-key-file", "f"], 2, "not both"),
    (["--access-key-file", "/nonexistent/key"], 2, "cannot read the access key file /nonexistent/key"),
    (["--access-key-file", key_file(b"k\n", 0o640)], 2, "readable by group or others (mode 0640)"),
    (["--access-key-file", key_file(b"\nk\n", 0o600)], 2, "no key on its first line"),
]:
    r = run_sim(*args)
    c.check(r.returncode == rc, f"{args}: exit {r.returncode}, expected {rc}")
    c.check(text in r.stdout + r.stderr, f"{args}: '{text}' not in {r.stdout + r.stderr!r}")

# A window asked for on a display that cannot be reached: it runs without one
# instead of aborting.
env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY")}
env["DISPLAY"] = ":97"  # no X server there
proc = subprocess.Popen([SIM, "--port", "0", "--show", "normal"], stderr=subprocess.PIPE, text=True, env=env)
said = []
for line in proc.stderr:
    said.append(line)
    if "listening on" in line:
        break
proc.terminate()
rc = proc.wait(10)
c.check(any("cannot reach the display" in l for l in said) and any("listening on" in l for l in said),
        f"an unreachable display: runs without a window: {said}")
c.check(rc == 0, f"and stops cleanly: {rc}")

# The key from a private file (first line) or the environment is required
# like one given on the command line, which draws a warning.
for how, args, env in [("file", ["--access-key-file", key_file(b"s3cret key\r\nsecond line\n", 0o600)], {}),
                       ("environment", [], {"CARDWRIGHT_SIM_ACCESS_KEY": "s3cret key"})]:
    os.environ.update(env)
    with Sim(*args) as sim:
        c.fault(lambda: sim.proxy().GetCount(), 14, f"key from the {how}: none given", "missing")
        c.check(sim.proxy("s3cret key").GetFields()["Email"] == "text", f"key from the {how}: given")
        c.check(not any("warning" in line for line in sim.lines), f"key from the {how}: no warning")
    for name in env:
        del os.environ[name]

# Access key: missing, wrong, right; introspection is covered too.
with Sim("--access-key", "s3cret key") as sim:
    c.check(any("other local users can read --access-key" in line for line in sim.lines), "--access-key warns")
    c.fault(lambda: sim.proxy().GetCount(), 14, "no key", "missing")
    c.fault(lambda: sim.proxy("wrong").GetCount(), 14, "wrong key", "wrong")
    c.fault(lambda: sim.proxy("s3cret ke").GetCount(), 14, "prefix of the key", "wrong")
    c.fault(lambda: sim.proxy().system.listMethods(), 14, "introspection without key")
    good = sim.proxy("s3cret key")
    sim.wait_idle(good)
    c.check(good.GetCount()["Total"] == 300, "right key")
    # A refused call must not upset the next one on the same connection.
    t = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{sim.port}/RPC2")
    for _ in range(3):
        c.fault(lambda: t.IsBusy(), 14, "repeated refusals on one connection")
    c.fault(lambda: t.GetRecord({"FirstName": "x" * 200000}), 14, "a large refused request")
    c.fault(lambda: t.IsBusy(), 14, "the connection stays in step after a large refused body")
    c.check(good.IsBusy() is False, "still answering after refusals")
    c.check(all("s3cret" not in line for line in sim.lines), "the key never appears in the log")

# Loopback only by default; fault injection; HTTP edge cases; many connections.
with Sim("--fail", "GetCount=77:Injected failure", "--fail", "Next=78:Stuck") as sim:
    s = sim.proxy()
    sim.wait_idle(s)
    hexport = "%04X" % sim.port
    listening = [l.split()[1] for l in open("/proc/net/tcp").read().splitlines()[1:]
                 if l.split()[1].endswith(":" + hexport) and l.split()[3] == "0A"]
    c.check(listening == ["0100007F:" + hexport], f"listens on 127.0.0.1 only: {listening}")
    c.fault(lambda: s.GetCount(), 77, "--fail GetCount", "Injected failure")
    c.fault(lambda: s.Next(), 78, "--fail Next")
    c.check(s.GetErrorMessage({"Code": "77"}) == "Injected failure", "GetErrorMessage knows injected codes")
    c.check(s.GetFields()["FirstName"] == "text", "other methods unaffected")

    conn = http.client.HTTPConnection("127.0.0.1", sim.port, timeout=10)
    for method, path, body, status, fault in [
        ("GET", "/RPC2", None, 405, None),
        ("POST", "/elsewhere", "<x/>", 404, None),
        # XML-RPC faults, not crashes, in our words rather than the parser's
        ("POST", "/RPC2", "this is not XML", 200, b"not well-formed XML"),
        ("POST", "/RPC2", "<methodCall><methodName>IsBusy</methodName><params>", 200,
         b"not well-formed XML (Start-end tags mismatch)"),
        ("POST", "/RPC2", "<methodResponse><params/></methodResponse>", 200, b"expected &lt;methodCall&gt;"),
        ("POST", "/RPC2", "<methodCall><methodName>IsBusy</methodName><params><param><value><i4>x</i4>"
                          "</value></param></params></methodCall>", 200, b"non-numerical junk"),
        ("POST", "/RPC2", '<?xml version="1.0"?><!DOCTYPE l [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;">]>'
                          "<methodCall><methodName>IsBusy</methodName></methodCall>", 200, b"DOCTYPE"),
        ("POST", "/RPC2", "<methodCall><methodName>system.<!-- -->multicall</methodName><params><param><value>"
                          "<array><data>" + "<value><struct/></value>" * 101 + "</data></array></value></param>"
                          "</params></methodCall>", 200, b"at most 100 calls"),
    ]:
        conn.request(method, path, body, {"Content-Type": "text/xml"})
        resp = conn.getresponse()
        data = resp.read()
        c.check(resp.status == status, f"{method} {path}: HTTP {resp.status}, expected {status}")
        if fault:
            c.check(b"<fault>" in data and fault in data, f"{body[:30]!r} answers {fault!r}: {data[:400]!r}")
    conn.close()
    # Beyond what xmlrpc-c's parser takes by itself: calls up to 16 MiB, and a
    # plain refusal of characters it cannot carry; every call logged.
    c.fault(lambda: s.GetRecord({"Host": "h" * 1000000}), 6, "a 1 MB call is read (and matches nothing)")
    c.fault(lambda: s.GetRecord({"FirstName": "\U0001F389"}), 3, "a character above U+FFFF", "U+FFFF")
    c.fault(lambda: s.NoSuchMethod(), -506, "an unknown method")
    c.fault(lambda: s.GetRecord({"Shoe\nFAKE line": "x"}), 2, "a field name holding a line break")
    c.check(sim.wait_log(lambda l: "NoSuchMethod" in l and "fault -506" in l), "an unknown method is logged")
    c.check(sim.wait_log(lambda l: "Shoe FAKE line" in l), "a field name holding a line break is logged on one line")
    c.check(not any(l.startswith("FAKE line") for l in sim.lines), "a call's text cannot start a log line")
    for headers, status in [(b"Content-Length: 999999999", b"413"), (b"Content-Length: 12abc", b"400"),
                            (b"Content-Length: -1", b"400"), (b"Content-Length: 1 2", b"400"),
                            (b"Content-Length: 5\r\nContent-Length: 6", b"400"),
                            (b"Content-Length: 5\r\nTransfer-Encoding: chunked", b"400"),
                            (b"Transfer-Encoding: chunked", b"411"), (b"", b"411"),
                            (b"Content-Length: 5\r\nX-Big: " + b"a" * 100000, b"431"),
                            (b"Content-Length: 5" + b"\r\nX-A: b" * 20000, b"431")]:
        raw = socket.create_connection(("127.0.0.1", sim.port), timeout=10)
        raw.sendall(b"POST /RPC2 HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\n" + headers + b"\r\n\r\n")
        first = raw.recv(200).split(b"\r\n")[0]
        c.check(status in first, f"{headers[:40]}: {first}, expected {status}")
        raw.close()

    # A client that stalls mid-request, and 30 idle kept-alive connections, leave room for others.
    stalled = socket.create_connection(("127.0.0.1", sim.port), timeout=10)
    stalled.sendall(b"POST /RPC2 HTTP/1.1\r\nHost: x\r\nContent-Length: 500\r\n\r\n<?xml")
    idle = []
    for _ in range(30):
        p = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{sim.port}/RPC2")
        p.IsBusy()
        idle.append(p)
    t0 = time.monotonic()
    c.check(sim.proxy().GetFields()["Email"] == "text", "answers beside a stalled and 30 idle connections")
    c.check(time.monotonic() - t0 < 5, "and promptly (not after the stalled one times out)")
    stalled.close()

# --busy-ms keeps a command busy; IsBusy shows it.
with Sim("--busy-ms", "400") as sim:
    s = sim.proxy()
    sim.wait_idle(s)
    c.check(s.Next() is True and s.IsBusy() is True, "busy while the command runs")
    c.check(s.GetStatus()["Busy"] == "Yes", "GetStatus shows busy")
    sim.wait_idle(s)
    c.check(s.GetCurrent()["Position"] == 2, "the command ran after its busy time")

# A long command (the first open of a big roster) holds the roster, yet
# IsBusy and GetLastCommandError answer at once.
big = sample_dir()
with open(os.path.join(big, "visitors.idc")) as f:
    text = f.read().replace("generate = 300", "generate = 1500")
with open(os.path.join(big, "visitors.idc"), "w") as f:
    f.write(text)
sim = Sim(directory=big)
s = sim.proxy()
t0 = time.monotonic()
busy = s.IsBusy()
last = s.GetLastCommandError()
c.check(busy is True and last == 0, f"busy while the big roster is made: {busy} {last}")
c.check(time.monotonic() - t0 < 2, f"IsBusy answered in {time.monotonic() - t0:.2f} s")
# SIGTERM cuts the first open short, promptly; the next start makes it again.
t0 = time.monotonic()
c.check(sim.stop() == 0, "SIGTERM ends it with 0")
c.check(time.monotonic() - t0 < 3, f"SIGTERM during the first open took {time.monotonic() - t0:.1f} s")
with Sim(directory=big) as sim:
    s = sim.proxy()
    sim.wait_idle(s, timeout=120)
    c.check(s.GetCount()["Total"] == 1500, f"an interrupted first open generates again: {s.GetCount()}")

# A roster edited by other means while the simulator was stopped: what XML-RPC
# cannot carry (a stray Latin-1 byte, an emoji) is answered as U+FFFD, every
# time the record is read, and the record stays readable.
edited = sample_dir()
sim = Sim(directory=edited)
sim.wait_idle()
sim.stop()
db = sqlite3.connect(os.path.join(edited, "visitors.db"))
db.execute("UPDATE records SET FirstName = CAST(X'5A6FE920F09F9880' AS TEXT) WHERE Id = 1")
db.commit()
db.close()
with Sim(directory=edited) as sim:
    s = sim.proxy()
    sim.wait_idle(s)
    names = [s.GetRecord({"Id": "1"})["FirstName"] for _ in range(2)]
    c.check(names == ["Zo\ufffd \ufffd"] * 2, f"uncarried text in the roster: {names!r}")

# --start-delay: nothing listens until the delay is over.
port = free_port()
with Sim("--port", str(port), "--start-delay", "1.5", design=False, wait_listen=False) as sim:
    t0 = time.monotonic()
    refused = False
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
    except OSError:
        refused = True
    c.check(refused, "nothing listens during the start delay")
    deadline = t0 + 15
    answered = None
    while time.monotonic() < deadline:
        try:
            xmlrpc.client.ServerProxy(f"http://127.0.0.1:{port}/RPC2").system.listMethods()
            answered = time.monotonic() - t0
            break
        except OSError:
            time.sleep(0.05)
    c.check(answered is not None and answered >= 1.3, f"listens after the delay: {answered}")

    # A second server on the same port fails plainly.
    r = run_sim("--show", "hidden", "--port", str(port))
    c.check(r.returncode == 1 and "Address already in use" in r.stderr, f"port in use: {r.returncode} {r.stderr!r}")

# RosterLink role: imports the linked CSV, refuses Cardwright's own methods.
with Sim("--role", "rosterlink") as sim:
    s = sim.proxy()
    sim.wait_idle(s)
    c.check(s.GetProgramInfo()["Product"] == "RosterLink", "RosterLink product name")
    for name, call in [("GetBadgeImage", lambda: s.GetBadgeImage({})), ("Print", lambda: s.Print()),
                       ("Template", lambda: s.Template({"Name": "Visitor"})), ("Video", lambda: s.Video())]:
        c.fault(call, 4, f"{name} refused in RosterLink", "Cardwright")
    c.check(s.RosterLinkConfig() is True, "RosterLinkConfig accepted")
    sim.wait_idle(s)
    c.check(s.GetStatus()["RosterLinkFile"].endswith("visitors.csv"), "RosterLinkConfig links the CSV")
    for round_ in (1, 2):
        c.check(s.RosterLink() is True, "RosterLink accepted")
        sim.wait_idle(s)
        c.check(s.GetLastCommandError() == 0, f"RosterLink round {round_} succeeded")
        c.check(s.GetCount()["Total"] == 303, f"import keyed by Email, round {round_}: {s.GetCount()}")
    kiki = s.GetRecord({"Email": "chiara.bianchi@example.com"})
    c.check(kiki["FirstName"] == 'Chiara "Kiki"', f"quoted CSV cells: {kiki['FirstName']!r}")
    c.check(s.GetRecord({"Email": "alma.lindqvist@example.com"})["Company"] == "Fjord & Pine, Ltd", "comma in a cell")
    for content, why in [(b"FirstName,Shoe\nAnn,42\n", "Shoe"),
                         (b"FirstName,Email\nZo\xeb,zoe@example.com\n", "not UTF-8")]:
        with open(os.path.join(sim.dir, "visitors.csv"), "wb") as f:
            f.write(content)
        s.RosterLink()
        sim.wait_idle(s)
        c.check(s.GetLastCommandError() == 12, f"a CSV with {why} fails the import")
        c.check(why in s.GetErrorMessage({"Code": "12"}), f"and says so: {why}")
        c.check(s.GetCount()["Total"] == 303, "a failed import adds nothing")

c.done()
