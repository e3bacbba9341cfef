#!/usr/bin/python3
"""Writes the dial pad's time-zone database "tz" (SQLite).

A prefix of an international number (country code included, 2 to 7 digits) is listed when the
phone-number library's zone data gives it exactly one zone, and that zone is known to the system's
zoneinfo with a country in zone.tab. The library still uses some older zone names (links in the
zoneinfo): such a name becomes the zone.tab name that links to the same zone in the country of the
prefix's calling code. North American area codes carry their state or province as
the library's geocoder names it; every other prefix points at the state row with the empty name.

Tables (only these columns are read by the app):
  timezones(tz_id, tz, cc)       zone key, zone name, two-letter country code
  numberprefix(prefix, tz_id, st_id)  leading digits as an INTEGER (indexed)
  states(st_id, name)            state or region name; row 0 is the empty name

usage: make_tz.py OUTPUT [ZONE_TAB [TZDATA_ZI]]
"""
import os
import sqlite3
import sys

from phonenumbers import geocoder, timezone
import phonenumbers


def zone_countries(zone_tab):
    countries = {}
    with open(zone_tab, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 3:
                countries.setdefault(fields[2], fields[0])
    return countries


def zone_links(tzdata_zi):
    links = {}
    if os.path.exists(tzdata_zi):
        with open(tzdata_zi, encoding="utf-8") as f:
            for line in f:
                parts = line.split()
                if len(parts) == 3 and parts[0] == "L":
                    links[parts[2]] = parts[1]
    return links


def prefix_regions(prefix):
    for n in (3, 2, 1):
        regions = phonenumbers.COUNTRY_CODE_TO_REGION_CODE.get(int(prefix[:n])) if len(prefix) >= n else None
        if regions:
            return set(regions)
    return set()


def nanp_state(prefix):
    """The state or province of a North American area code ("1" and three digits), or ""."""
    if len(prefix) != 4 or not prefix.startswith("1"):
        return ""
    number = phonenumbers.parse("+" + prefix + "5550100")
    region = phonenumbers.region_code_for_number(number)
    if region not in ("US", "CA"):
        return ""
    return geocoder.description_for_valid_number(number, "en") or ""


def rows(zone_tab, tzdata_zi):
    countries = zone_countries(zone_tab)
    links = zone_links(tzdata_zi)
    for prefix, zones in sorted(timezone.TIMEZONE_DATA.items(), key=lambda kv: (len(kv[0]), kv[0])):
        if not (2 <= len(prefix) <= 7) or len(zones) != 1:
            continue
        zone = zones[0]
        if zone not in countries:
            target = links.get(zone, zone)
            regions = prefix_regions(prefix)
            same = sorted(z for z, cc in countries.items() if links.get(z, z) == target and cc in regions)
            if not same:
                continue
            zone = same[0]
        cc = countries[zone]
        if not os.path.exists(os.path.join("/usr/share/zoneinfo", zone)):
            continue
        yield prefix, zone, cc, nanp_state(prefix)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    zone_tab = sys.argv[2] if len(sys.argv) > 2 else "/usr/share/zoneinfo/zone.tab"
    tzdata_zi = sys.argv[3] if len(sys.argv) > 3 else "/usr/share/zoneinfo/tzdata.zi"
    tmp = out + ".tmp"
    if os.path.exists(tmp):
        os.remove(tmp)
    db = sqlite3.connect(tmp)
    db.executescript(
        """
        CREATE TABLE timezones(tz_id INTEGER PRIMARY KEY, tz TEXT NOT NULL, cc TEXT NOT NULL);
        CREATE TABLE states(st_id INTEGER PRIMARY KEY, name TEXT NOT NULL);
        CREATE TABLE numberprefix(prefix INTEGER NOT NULL, tz_id INTEGER NOT NULL, st_id INTEGER NOT NULL);
        INSERT INTO states(st_id, name) VALUES (0, '');
        """)
    zone_ids, state_ids = {}, {"": 0}
    for prefix, zone, cc, state in rows(zone_tab, tzdata_zi):
        if (zone, cc) not in zone_ids:
            zone_ids[(zone, cc)] = len(zone_ids) + 1
            db.execute("INSERT INTO timezones VALUES (?, ?, ?)", (zone_ids[(zone, cc)], zone, cc))
        if state not in state_ids:
            state_ids[state] = len(state_ids)
            db.execute("INSERT INTO states VALUES (?, ?)", (state_ids[state], state))
        db.execute("INSERT INTO numberprefix VALUES (?, ?, ?)", (int(prefix), zone_ids[(zone, cc)], state_ids[state]))
    db.execute("CREATE INDEX numberprefix_prefix ON numberprefix(prefix)")
    db.commit()
    db.execute("VACUUM")
    db.close()
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
