#!/usr/bin/python3
"""Prints the messages of a Maildir for the mail tests, one block each:
"key<TAB>value" lines ended by "end". Each calendar attachment is parsed
with icalendar, so a file it cannot read fails the test."""
import email
import email.policy
import json
import mailbox
import sys

import icalendar


def main(folder):
    box = mailbox.Maildir(folder, factory=None, create=False)
    for key in box.keys():
        msg = email.message_from_bytes(box.get_bytes(key), policy=email.policy.default)
        print("to\t" + msg["To"].addresses[0].addr_spec)
        print("rcpt\t" + str(msg.get("X-RcptTo", "")))
        print("subject\t" + str(msg["Subject"]))
        print("message-id\t" + str(msg["Message-ID"]))
        print("type\t" + msg.get_content_type())
        for part in msg.walk():
            kind = part.get_content_type()
            if kind == "text/plain":
                print("charset\t" + str(part.get_content_charset()))
                print("text\t" + json.dumps(part.get_content(), ensure_ascii=False))
            elif kind == "text/calendar":
                print("calendar-param\t" + str(part.get_param("method")))
                print("filename\t" + str(part.get_filename()))
                cal = icalendar.Calendar.from_ical(part.get_payload(decode=True))
                print("calendar-method\t" + str(cal.get("METHOD")))
                for zone in cal.walk("VTIMEZONE"):
                    print("tzid\t" + str(zone["TZID"]))
                for ev in cal.walk("VEVENT"):
                    print("uid\t" + str(ev["UID"]))
                    print("status\t" + str(ev["STATUS"]))
                    print("sequence\t" + str(ev["SEQUENCE"]))
                    print("summary\t" + str(ev["SUMMARY"]))
                    start = ev.decoded("DTSTART")
                    print("start\t" + start.strftime("%Y-%m-%d %H:%M:%S") + " " + str(ev["DTSTART"].params.get("TZID")))
                    print("start-utc\t" + start.utcoffset().__str__())
        print("end")


if __name__ == "__main__":
    main(sys.argv[1])
