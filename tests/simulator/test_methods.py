"""Every remote method once through Python's xmlrpc.client, with the answers
checked against the sample design and roster."""
import http.client
import os
import struct
import xmlrpc.client

from simhelper import Checks, Sim

ALL_METHODS = [
    "GetErrorMessage", "IsBusy", "GetLastCommandError", "GetFeatures", "GetProgramInfo", "GetRecord",
    "GetCurrent", "GetCount", "GetFields", "GetTemplates", "GetStatus", "GetToolbarStatus", "GetCWHandle",
    "GetEditCount", "GetUserData", "GetBadgeImage", "GetPhotoImage", "GetSignatureImage",
    "GetFingerprintImage", "Open", "Close", "First", "Next", "Previous", "Last", "Select", "Delete", "Revise",
    "Add", "Update", "Exit", "Startlog", "Stoplog", "Restore", "Focus", "Video", "Print", "Twain", "Signature",
    "Bitmap", "Preview", "ServerMode", "Goto", "Edit", "CreateTemplate", "ReviseTemplate", "ManageTemplates",
    "ReviseAssignments", "Fingerprint", "Template", "ReviseUserData", "FlipBadge", "RosterLinkConfig",
    "RosterLink"]

c = Checks()


def png_size(data):
    c.check(data[:8] == b"\x89PNG\r\n\x1a\n", "picture is a PNG")
    return struct.unpack(">II", data[16:24])


def run(s, sim, name, *args):
    """A command: answers True, then finishes with GetLastCommandError 0."""
    r = getattr(s, name)(*args)
    c.check(r is True, f"{name} answers true, got {r!r}")
    sim.wait_idle(s)
    return s.GetLastCommandError()


def ok(s, sim, name, *args):
    code = run(s, sim, name, *args)
    c.check(code == 0, f"{name}{args} finished with error {code}: {s.GetErrorMessage({'Code': str(code)}) if code else ''}")


with Sim() as sim:
    s = sim.proxy()
    sim.wait_idle(s)

    # Introspection: every method listed, with a signature and a help text.
    listed = s.system.listMethods()
    for m in ALL_METHODS:
        c.check(m in listed, f"{m} listed")
        sig = s.system.methodSignature(m)
        c.check(isinstance(sig, list) and sig and all(isinstance(x, list) for x in sig), f"{m} has a signature: {sig}")
        c.check(len(s.system.methodHelp(m)) > 20, f"{m} has a help text")
    c.check(len(ALL_METHODS) == 54, "54 methods in the table")
    c.check(s.system.methodSignature("Open") == [["boolean", "struct"]], "Open's signature")
    c.check(s.system.methodSignature("GetBadgeImage") == [["base64", "struct"], ["base64"]], "picture signature")

    # Queries on the freshly generated roster.
    c.check(s.GetCount() == {"Total": 300, "Selected": 300}, "GetCount of the sample")
    fields = s.GetFields()
    c.check(list(fields) == ["Photo", "FirstName", "LastName", "Company", "Host", "BadgeNumber", "ValidUntil",
                             "Email", "Signature", "Fingerprint"], f"GetFields in design order: {list(fields)}")
    c.check(fields["Photo"] == "photo" and fields["ValidUntil"] == "date", "GetFields kinds")
    rec = s.GetRecord()
    c.check(list(rec)[0] == "Id" and rec["Id"] == 1 and rec["BadgeNumber"] == "1001", f"GetRecord current: {rec}")
    c.check(rec["Photo"].startswith("PNG"), "generated photo present")
    c.check(s.GetRecord({"BadgeNumber": "1005"})["Id"] == 5, "GetRecord by criteria")
    # Members arrive as texts: numbers and yes/no read as such; a repeated name keeps its last value.
    repeated = ("<?xml version='1.0'?><methodCall><methodName>GetRecord</methodName><params><param><value><struct>"
                "<member><name>Id</name><value>4</value></member><member><name>Id</name><value>7</value></member>"
                "</struct></value></param></params></methodCall>")
    for criteria, want in [({"Id": 5}, 5), ({"Id": True}, 1), ({"Id": "7", "BadgeNumber": "1007"}, 7),
                           (repeated, 7)]:
        if isinstance(criteria, str):
            conn = http.client.HTTPConnection("127.0.0.1", sim.port, timeout=10)
            conn.request("POST", "/RPC2", criteria, {"Content-Type": "text/xml"})
            got = xmlrpc.client.loads(conn.getresponse().read())[0][0]["Id"]
            conn.close()
        else:
            got = s.GetRecord(criteria)["Id"]
        c.check(got == want, f"GetRecord({str(criteria)[:60]}): Id {got}, expected {want}")
    c.fault(lambda: s.GetRecord({"Id": 1.5}), 3, "a member that is not a text", "must be a string")
    c.fault(lambda: s.GetRecord({"FirstName": "Nobody"}), 6, "GetRecord without match")
    c.fault(lambda: s.GetRecord({"Shoe": "x"}), 2, "GetRecord unknown field", "Shoe")
    info = s.GetProgramInfo()
    c.check(info["Product"] == "Cardwright" and info["Port"] == sim.port and info["ProcessId"] == sim.proc.pid,
            f"GetProgramInfo: {info}")
    c.check(s.GetFeatures()["Roster"] == "Yes", "GetFeatures")
    c.check(s.GetCWHandle() == sim.proc.pid, "GetCWHandle is the pid when hidden")
    c.check(s.IsBusy() is False, "IsBusy false when idle")
    c.check(s.GetStatus()["Design"] == "Visitors", "GetStatus design name")
    c.check(s.GetToolbarStatus()["Previous"] == "Disabled" and s.GetToolbarStatus()["Next"] == "Enabled",
            "GetToolbarStatus at the first record")

    # Navigation, table-driven: (command, args, expected position afterwards, expected command error)
    for name, args, pos, err in [
        ("Next", (), 2, 0), ("Next", (), 3, 0), ("Previous", (), 2, 0), ("Last", (), 300, 0),
        ("Next", (), 300, 15), ("First", (), 1, 0), ("Previous", (), 1, 15),
        ("Goto", ({"Record": "10"},), 10, 0), ("Goto", ({"Id": "42"},), 42, 0),
        ("Goto", ({"Record": "999"},), 42, 6),
    ]:
        code = run(s, sim, name, *args)
        c.check(code == err, f"{name}{args}: error {code}, expected {err}")
        c.check(s.GetCurrent()["Position"] == pos, f"{name}{args}: position {s.GetCurrent()['Position']}, expected {pos}")
    c.check("No further record" in s.GetErrorMessage({"Code": "15"}), "GetErrorMessage for 15")
    c.check(s.GetErrorMessage({"Code": "0"}) == "No error", "GetErrorMessage 0")
    c.fault(lambda: s.GetErrorMessage({"Code": "999"}), 3, "GetErrorMessage unknown code")
    c.fault(lambda: s.GetErrorMessage({}), 3, "GetErrorMessage without Code")
    c.fault(lambda: s.Goto({"Record": "0"}), 3, "Goto Record=0")
    c.fault(lambda: s.Goto({"Record": "ten"}), 3, "Goto Record=ten")

    # Selection.
    ok(s, sim, "Select", {"FirstName": "A*"})
    sel = s.GetCount()["Selected"]
    c.check(0 < sel < 300 and s.GetRecord()["FirstName"].startswith("A"), f"Select with a pattern: {sel}")
    ok(s, sim, "Select", {})
    c.check(s.GetCount()["Selected"] == 300, "Select with no criteria selects all")
    c.fault(lambda: s.Select({"Shoe": "x"}), 2, "Select unknown field")

    # Changes.
    edits = s.GetEditCount()
    ok(s, sim, "Add", {"FirstName": "Zed", "LastName": "Quill", "Company": "Acme & <Sons>", "Email": "zq@example.com"})
    new = s.GetRecord()
    c.check(new["FirstName"] == "Zed" and new["Company"] == "Acme & <Sons>" and new["Id"] == 301, f"Add: {new}")
    c.check(s.GetCount()["Total"] == 301, "Add counts")
    ok(s, sim, "Update", {"Host": "Ada Berg"})
    c.check(s.GetRecord()["Host"] == "Ada Berg", "Update")
    ok(s, sim, "Edit", {"Company": "Acme Ltd"})
    c.check(s.GetRecord()["Company"] == "Acme Ltd", "Edit")
    c.check(s.GetRecord({"Id": "7"})["LastName"] != "Revised", "Revise: read before (answers are kept)")
    ok(s, sim, "Revise", {"Id": "7", "LastName": "Revised"})
    c.check(s.GetRecord({"Id": "7"})["LastName"] == "Revised", "Revise")
    c.check(run(s, sim, "Revise", {"Id": "99999", "LastName": "x"}) == 6, "Revise of a missing record")
    c.fault(lambda: s.Revise({"LastName": "x"}), 3, "Revise without Id")
    c.fault(lambda: s.Add({}), 3, "Add without fields")
    c.fault(lambda: s.Add({"Photo": "x"}), 3, "Add with a picture field as text")
    c.fault(lambda: s.Update({"Nope": "x"}), 2, "Update unknown field")
    c.check(s.GetEditCount() == edits + 4, f"GetEditCount counts changes: {s.GetEditCount()} vs {edits}")
    ok(s, sim, "Delete", {})
    c.check(s.GetCount()["Total"] == 300, "Delete the current record")
    c.fault(lambda: s.GetRecord({"Id": "301"}), 6, "deleted record is gone")
    ok(s, sim, "Delete", {"Id": "2"})
    ok(s, sim, "Delete", {"LastName": "Revised"})
    c.check(s.GetCount()["Total"] == 298, "Delete by Id and by criteria")
    c.check(run(s, sim, "Delete", {"LastName": "Nobody"}) == 6, "Delete without match")

    # Templates.
    c.check(s.GetTemplates() == {"Visitor": "Active", "Contractor": "Available"}, f"GetTemplates: {s.GetTemplates()}")
    ok(s, sim, "Template", {"Name": "Contractor"})
    c.check(s.GetTemplates()["Contractor"] == "Active", "Template activates")
    ok(s, sim, "CreateTemplate", {"Name": "Guest", "Title": "GUEST", "Background": "#e0f0ff"})
    c.fault(lambda: s.CreateTemplate({"Name": "Guest"}), 10, "CreateTemplate twice")
    c.fault(lambda: s.ReviseTemplate({"Name": "Nope"}), 9, "ReviseTemplate unknown")
    c.fault(lambda: s.CreateTemplate({"Name": "Bad Name"}), 3, "CreateTemplate bad name")
    ok(s, sim, "ReviseTemplate", {"Name": "Guest", "Fields": "FirstName, LastName"})
    ok(s, sim, "ReviseAssignments", {"Template": "Guest", "Photo": "Yes", "LastName": "No"})
    ok(s, sim, "ManageTemplates")
    c.fault(lambda: s.ReviseAssignments({"Template": "Guest", "Photo": "perhaps"}), 3, "ReviseAssignments bad value")

    # User data.
    ok(s, sim, "ReviseUserData", {"Site": "HQ", "Floor": "3"})
    c.check(s.GetUserData() == {"Floor": "3", "Site": "HQ"}, f"GetUserData: {s.GetUserData()}")
    ok(s, sim, "ReviseUserData", {"Floor": ""})
    c.check(s.GetUserData() == {"Site": "HQ"}, "an empty value removes user data")

    # Pictures and capture.
    ok(s, sim, "First")
    front = s.GetBadgeImage({}).data
    c.check(png_size(front) == (540, 860), "badge is the card size")
    c.check(png_size(s.GetPhotoImage({}).data) == (180, 225), "photo")
    c.fault(lambda: s.GetSignatureImage({}), 11, "no signature before capture")
    c.fault(lambda: s.GetFingerprintImage({}), 11, "no fingerprint before capture")
    ok(s, sim, "Signature")
    ok(s, sim, "Fingerprint")
    png_size(s.GetSignatureImage({}).data)
    png_size(s.GetFingerprintImage({}).data)
    photo = s.GetPhotoImage({}).data
    for cap in ("Video", "Twain", "Bitmap"):
        ok(s, sim, cap)
        newer = s.GetPhotoImage({}).data
        c.check(newer != photo, f"{cap} stores a new photo")
        photo = newer
    ok(s, sim, "FlipBadge", {"Side": "Back"})
    c.check(s.GetStatus()["Side"] == "Back", "FlipBadge Side=Back")
    back = s.GetBadgeImage().data
    c.check(back != front and png_size(back) == (540, 860), "back differs from front")
    ok(s, sim, "FlipBadge", {})
    c.check(s.GetStatus()["Side"] == "Front", "FlipBadge without argument turns it over")
    c.check(s.GetBadgeImage({"Side": "Back", "Id": "5"}).data != front, "badge of another record and side")
    c.fault(lambda: s.GetBadgeImage({"Side": "Top"}), 3, "GetBadgeImage bad side")
    c.fault(lambda: s.FlipBadge({"Side": "Top"}), 3, "FlipBadge bad side")
    c.fault(lambda: s.GetPhotoImage({"Field": "FirstName"}), 3, "GetPhotoImage of a text field")
    ok(s, sim, "Print")
    printed = s.GetStatus()["LastPrint"]
    c.check(os.path.isfile(printed) and open(printed, "rb").read(4) == b"\x89PNG", f"Print writes a PNG: {printed}")

    # Window and modes (no window: they are accepted and recorded).
    ok(s, sim, "Preview")
    ok(s, sim, "Restore")
    ok(s, sim, "Focus", {"Field": "LastName"})
    c.check(s.GetStatus()["Focus"] == "LastName", "Focus recorded")
    c.fault(lambda: s.Focus({"Field": "Nope"}), 2, "Focus unknown field")
    ok(s, sim, "ServerMode", {"Mode": "On"})
    c.check(s.GetStatus()["ServerMode"] == "On", "ServerMode On")
    c.fault(lambda: s.ServerMode({"Mode": "maybe"}), 3, "ServerMode bad value")
    ok(s, sim, "Startlog")
    s.GetCount()
    ok(s, sim, "Stoplog")
    s.GetFields()
    log = open(os.path.join(sim.dir, "calls.log")).read()
    c.check("GetCount" in log and "GetFields" not in log, f"call log between Startlog and Stoplog: {log!r}")

    # Argument shapes and roles.
    c.fault(lambda: s.Close({"x": "y"}), 3, "argument to a command without one")
    c.fault(lambda: s.Open({"File": "a"}, {"File": "b"}), 3, "two parameters")
    c.fault(lambda: s.Open("file.idc"), 3, "a string instead of a struct")
    c.fault(lambda: s.RosterLink(), 4, "RosterLink in Cardwright", "RosterLink")
    c.fault(lambda: s.RosterLinkConfig(), 4, "RosterLinkConfig in Cardwright")

    # Close and Open.
    # Open reads design files only, and tells nothing of what else it was pointed at.
    os.mkdir(os.path.join(sim.dir, "folder.idc"))
    os.symlink("/proc/self/environ", os.path.join(sim.dir, "environ.idc"))
    for path, code, why in [
        ("/proc/self/environ", 3, "does not end in .idc"),
        ("/dev/null", 3, "does not end in .idc"),
        (os.path.join(sim.dir, "folder.idc"), 3, "not a regular file"),
        (os.path.join(sim.dir, "environ.idc"), 7, "environ.idc:1: "),
        (os.path.join(sim.dir, "missing.idc"), 7, "no such file"),
    ]:
        f = c.fault(lambda: s.Open({"File": path}), code, f"Open {path}", why)
        told = f.faultString if f else ""
        c.check(path in told, f"the refusal names {path}: {told!r}")
        quoted = [k for k in os.environ if len(k) > 3 and k in told.replace(path, "")]
        c.check(not quoted, f"the refusal quotes nothing of the file: {quoted} in {told!r}")
    bad = os.path.join(sim.dir, "bad.idc")
    with open(bad, "w") as f:
        f.write("[Design]\nname = x\nsize = 10 by 20\n")
    c.fault(lambda: s.Open({"File": bad}), 7, "Open a malformed design", "bad.idc:3")
    c.fault(lambda: s.Open({}), 3, "Open without a file")
    ok(s, sim, "Close")
    c.fault(lambda: s.GetCount(), 1, "GetCount without a design")
    st = s.GetStatus()
    c.check(st["Design"] == "" and st["Records"] == 0 and st["ServerMode"] == "On", f"GetStatus without a design: {st}")
    c.fault(lambda: s.Next(), 1, "Next without a design")
    # Queued behind an Open, Select is checked against the design being opened.
    c.check(s.Open({"File": sim.design}) is True and s.Select({"LastName": "Berg"}) is True, "Open then Select at once")
    sim.wait_idle(s)
    c.check(s.GetLastCommandError() == 0 and s.GetCount()["Total"] == 298, "reopened roster kept the changes")
    c.check(s.GetTemplates().get("Guest") == "Available" and s.GetTemplates()["Contractor"] == "Active",
            "templates kept with the design")

    c.check(s.Exit() is True, "Exit answers true")
    try:
        rc = sim.proc.wait(10)
        c.check(rc == 0, f"Exit ends the program with 0, got {rc}")
    except Exception:
        c.check(False, "Exit ends the program")
    c.check(any("stopped" in line for line in sim.lines), "clean shut-down logged")
    c.check(all("ms" in line for line in sim.lines if line.startswith("cardwright-sim: Get")), "log lines carry the duration")

c.done()
