#!/usr/bin/env python3
"""Two Syncthing instances for the sync run: their configuration, and their REST API.

  stctl.py ports N
      N free TCP ports on 127.0.0.1, one a line.
  stctl.py configure CONFIG --self ID --name NAME --listen PORT --gui PORT --apikey KEY
                     --peer ID --peer-port PORT --folder ID --path DIR
      Rewrites a generated config.xml for a private pair on the loopback interface: no
      discovery, relays, NAT, usage or crash reports, no upgrades; the peer at its one
      address; one folder shared with it, rescanned often, with the file watcher on.
  stctl.py call PORT KEY METHOD PATH
      Prints the JSON answer of one request; exit status 1 when it fails.
  stctl.py until PORT KEY PATH EXPRESSION SECONDS
      Asks GET PATH until EXPRESSION (Python, the answer in r) holds; exit status 1, with the
      last answer, when SECONDS pass first.
"""

import json
import socket
import sys
import time
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET


def free_ports(count):
    # All held open at once, so that the same port is not handed out twice.
    sockets = []
    try:
        for _ in range(count):
            s = socket.socket()
            s.bind(("127.0.0.1", 0))
            sockets.append(s)
        return [s.getsockname()[1] for s in sockets]
    finally:
        for s in sockets:
            s.close()


def set_text(parent, tag, text):
    for old in parent.findall(tag):
        parent.remove(old)
    element = ET.SubElement(parent, tag)
    element.text = text
    return element


def configure(path, args):
    options = dict(zip(args[0::2], args[1::2]))
    self_id, peer_id = options["--self"], options["--peer"]
    tree = ET.parse(path)
    root = tree.getroot()

    gui = root.find("gui")
    gui.set("enabled", "true")
    gui.set("tls", "false")
    set_text(gui, "address", f"127.0.0.1:{options['--gui']}")
    set_text(gui, "apikey", options["--apikey"])

    settings = root.find("options")
    for tag, value in [
        ("listenAddress", f"tcp://127.0.0.1:{options['--listen']}"),
        ("globalAnnounceEnabled", "false"),
        ("localAnnounceEnabled", "false"),
        ("relaysEnabled", "false"),
        ("natEnabled", "false"),
        ("stunKeepaliveStartS", "0"),
        ("urAccepted", "-1"),
        ("crashReportingEnabled", "false"),
        ("autoUpgradeIntervalH", "0"),
        ("startBrowser", "false"),
        ("reconnectionIntervalS", "1"),
        ("setLowPriority", "false"),
    ]:
        set_text(settings, tag, value)
    for notice in settings.findall("unackedNotificationID"):
        settings.remove(notice)

    for device in root.findall("device"):
        root.remove(device)
    for folder in root.findall("folder"):
        root.remove(folder)
    at = list(root).index(gui)
    folder = ET.Element("folder", {
        "id": options["--folder"], "label": options["--folder"], "path": options["--path"],
        "type": "sendreceive", "rescanIntervalS": "5", "fsWatcherEnabled": "true",
        "fsWatcherDelayS": "1", "ignorePerms": "false", "autoNormalize": "true"})
    for device_id in (self_id, peer_id):
        ET.SubElement(folder, "device", {"id": device_id, "introducedBy": ""})
    set_text(folder, "markerName", ".stfolder")
    set_text(folder, "maxConflicts", "10")
    root.insert(at, folder)
    peer_name = "B" if options["--name"] == "A" else "A"
    for device_id, name, port in ((self_id, options["--name"], options["--listen"]),
                                  (peer_id, peer_name, options["--peer-port"])):
        device = ET.Element("device", {"id": device_id, "name": name, "compression": "metadata",
                                       "introducer": "false"})
        set_text(device, "address", f"tcp://127.0.0.1:{port}")
        set_text(device, "paused", "false")
        set_text(device, "autoAcceptFolders", "false")
        root.insert(at + 1, device)
    tree.write(path, encoding="unicode")


def call(port, key, method, path):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{path}", method=method,
                                     headers={"X-API-Key": key})
    with urllib.request.urlopen(request, timeout=10) as answer:
        body = answer.read().decode()
    return json.loads(body) if body.strip() else None


def until(port, key, path, expression, seconds):
    deadline = time.monotonic() + float(seconds)
    last = None
    while True:
        try:
            r = call(port, key, "GET", path)
            last = r
            if eval(expression, {}, {"r": r}):
                return 0
        except (OSError, urllib.error.URLError, ValueError, KeyError, TypeError) as e:
            last = f"{type(e).__name__}: {e}"
        if time.monotonic() >= deadline:
            print(f"   {path}: {json.dumps(last) if not isinstance(last, str) else last}")
            return 1
        time.sleep(0.1)


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "ports":
        print("\n".join(map(str, free_ports(int(argv[2])))))
        return 0
    if command == "configure":
        configure(argv[2], argv[3:])
        return 0
    if command == "call":
        try:
            answer = call(argv[2], argv[3], argv[4], argv[5])
        except (OSError, urllib.error.URLError, ValueError) as e:
            print(f"{argv[4]} {argv[5]}: {e}", file=sys.stderr)
            return 1
        if answer is not None:
            print(json.dumps(answer))
        return 0
    if command == "until":
        return until(*argv[2:7])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
