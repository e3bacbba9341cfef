#!/usr/bin/env python3
"""Expected date texts of list rows, from python3's zoneinfo: for moments around midnight and the
daylight-saving changes of zones whose rules have not changed since 2022, the text a row dated at
a moment shows when the list is looked at another moment. Days are calendar days of the zone.

Prints one line per case: zone, now, date (seconds since 1970) and the text, tab-separated. The
time and short date are those of the en_US locale ("h:mm AM", "M/d/yy").
"""

from datetime import datetime, timedelta
from zoneinfo import ZoneInfo

ZONES = ["America/New_York", "Europe/Berlin", "Australia/Sydney", "Asia/Tokyo", "America/St_Johns"]
# Local days looked at: ordinary ones and the days after a daylight-saving change (both ways).
DAYS = {
    "America/New_York": [(2023, 3, 13), (2023, 11, 6), (2023, 3, 18), (2024, 1, 1)],
    "Europe/Berlin": [(2023, 3, 27), (2023, 10, 30), (2023, 4, 1)],
    "Australia/Sydney": [(2023, 4, 3), (2023, 10, 2), (2023, 10, 7)],
    "Asia/Tokyo": [(2023, 6, 1), (2024, 3, 1)],
    "America/St_Johns": [(2023, 3, 13), (2023, 11, 6)],
}
WEEKDAYS = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]


def midnight(zone, day):
    return datetime(day.year, day.month, day.day, tzinfo=zone)


def text(zone, now, t):
    local_now = datetime.fromtimestamp(now, zone)
    today = midnight(zone, local_now.date())
    moment = datetime.fromtimestamp(t, zone)
    if t >= today.timestamp():
        hour = moment.hour % 12 or 12
        return "%d:%02d %s" % (hour, moment.minute, "AM" if moment.hour < 12 else "PM")
    if t >= midnight(zone, local_now.date() - timedelta(days=1)).timestamp():
        return "Yesterday"
    if t >= midnight(zone, local_now.date() - timedelta(days=6)).timestamp():
        return WEEKDAYS[moment.weekday()]
    return "%d/%d/%02d" % (moment.month, moment.day, moment.year % 100)


def main():
    for name in ZONES:
        zone = ZoneInfo(name)
        for (y, m, d) in DAYS[name]:
            day = datetime(y, m, d).date()
            today = midnight(zone, day).timestamp()
            # Looked at just after midnight, at noon and just before the next midnight.
            for now in (today + 60, today + 12 * 3600, midnight(zone, day + timedelta(days=1)).timestamp() - 1):
                starts = [midnight(zone, day - timedelta(days=k)).timestamp() for k in range(0, 8)]
                dates = set()
                for s in starts:
                    for delta in (-3601, -1, 0, 1, 3600):
                        dates.add(int(s + delta))
                # The fixed-length days a calendar day of 23 or 25 hours differs from.
                for k in range(1, 8):
                    dates.add(int(today - k * 86400))
                    dates.add(int(today - k * 86400 - 1))
                dates.add(int(now))
                for t in sorted(dates):
                    if t > now:
                        continue
                    print("%s\t%d\t%d\t%s" % (name, int(now), t, text(zone, int(now), t)))


if __name__ == "__main__":
    main()
