#!/usr/bin/python3
"""Reads calendar files and mails with Python's icalendar package, as a
subscribing client would, and prints one line per event: UID, STATUS and
SUMMARY, tab-separated. A file that starts with BEGIN:VCALENDAR is a
calendar; any other is a mail whose text/calendar parts are read. Exits
non-zero when a file cannot be read."""
import email
import sys

import icalendar


def events(data):
    cal = icalendar.Calendar.from_ical(data)
    if cal.name != "VCALENDAR":
        raise ValueError("not a VCALENDAR")
    for ev in cal.walk("VEVENT"):
        for key in ("UID", "DTSTART", "DTEND", "DTSTAMP"):
            if key not in ev:
                raise ValueError("a VEVENT without " + key)
        ev.decoded("DTSTART")
        yield "%s\t%s\t%s" % (ev["UID"], ev.get("STATUS", ""), ev.get("SUMMARY", ""))


for path in sys.argv[1:]:
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"BEGIN:VCALENDAR"):
        parts = [data]
    else:
        msg = email.message_from_bytes(data)
        parts = [p.get_payload(decode=True) for p in msg.walk() if p.get_content_type() == "text/calendar"]
    for part in parts:
        for line in events(part):
            print(line)
