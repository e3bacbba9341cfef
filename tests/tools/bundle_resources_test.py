"""The generated bundle resources: the time-zone database "tz" and the key tones, read with the
system's own tools (the sqlite3 command line, sndfile-info) and checked against independent
sources (the phone-number library's zone data, the zoneinfo files, a Goertzel filter)."""
import math
import os
import shutil
import struct
import subprocess
import unittest

import phonenumbers
from phonenumbers import timezone

RESOURCES = os.environ.get("HX_RESOURCES_DIR", "")
TZ = os.path.join(RESOURCES, "tz")


def sql(query):
    out = subprocess.run(["sqlite3", "-separator", "\t", TZ, query], check=True, capture_output=True, text=True)
    return [line.split("\t") for line in out.stdout.splitlines()]


@unittest.skipUnless(shutil.which("sqlite3") and os.path.exists(TZ), "needs sqlite3 and the built tz")
class TimeZoneDatabase(unittest.TestCase):
    def test_schema_has_an_integer_indexed_prefix_and_the_empty_state(self):
        columns = {row[1]: row[2] for row in sql("PRAGMA table_info(numberprefix)")}
        self.assertEqual(columns["prefix"], "INTEGER")
        indexes = sql("SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='numberprefix'")
        self.assertTrue(indexes)
        plan = " ".join(r[-1] for r in sql("EXPLAIN QUERY PLAN SELECT tz_id FROM numberprefix WHERE prefix=4420"))
        self.assertIn("INDEX", plan)
        self.assertEqual(sql("SELECT count(*) FROM states WHERE name=''"), [["1"]])
        self.assertEqual(sql("SELECT typeof(prefix), count(*) FROM numberprefix GROUP BY 1")[0][0], "integer")

    def test_prefixes_have_two_to_seven_digits_and_one_zone_each(self):
        lengths = sql("SELECT min(length(prefix)), max(length(prefix)) FROM numberprefix")[0]
        self.assertGreaterEqual(int(lengths[0]), 2)
        self.assertLessEqual(int(lengths[1]), 7)
        self.assertEqual(sql("SELECT count(*) FROM (SELECT prefix FROM numberprefix GROUP BY prefix HAVING count(*) > 1)"),
                         [["0"]])

    def test_every_zone_is_in_the_system_zoneinfo_with_its_country(self):
        countries = {}
        with open("/usr/share/zoneinfo/zone.tab", encoding="utf-8") as f:
            for line in f:
                if not line.startswith("#") and line.strip():
                    cc, _, zone = line.split("\t")[:3]
                    countries.setdefault(zone.strip(), cc)
        for zone, cc in sql("SELECT tz, cc FROM timezones"):
            self.assertTrue(os.path.exists(os.path.join("/usr/share/zoneinfo", zone)), zone)
            self.assertEqual(countries.get(zone), cc, zone)

    def test_example_numbers_find_one_of_the_librarys_zones(self):
        # The library may name a zone by an older link; both sides compare by the zone linked to.
        links = {}
        with open("/usr/share/zoneinfo/tzdata.zi", encoding="utf-8") as f:
            for line in f:
                parts = line.split()
                if len(parts) == 3 and parts[0] == "L":
                    links[parts[2]] = parts[1]
        table = {int(p): z for p, z in sql("SELECT prefix, tz FROM numberprefix JOIN timezones USING (tz_id)")}
        found = wrong = total = 0
        for region in sorted(phonenumbers.SUPPORTED_REGIONS):
            for kind in (phonenumbers.PhoneNumberType.FIXED_LINE, phonenumbers.PhoneNumberType.MOBILE):
                number = phonenumbers.example_number_for_type(region, kind)
                if number is None:
                    continue
                total += 1
                digits = str(number.country_code) + phonenumbers.national_significant_number(number)
                zone = next((table[int(digits[:k])] for k in range(min(7, len(digits)), 1, -1)
                             if int(digits[:k]) in table), None)
                if zone is None:
                    continue
                found += 1
                if links.get(zone, zone) not in {links.get(z, z) for z in timezone.time_zones_for_number(number)}:
                    wrong += 1
        self.assertGreater(total, 400)
        self.assertEqual(wrong, 0)
        self.assertGreaterEqual(found / total, 0.95, "%d of %d" % (found, total))


def read_caf(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"caff"
    pos, rate, samples = 8, None, None
    while pos < len(data):
        kind, size = data[pos:pos + 4], struct.unpack(">q", data[pos + 4:pos + 12])[0]
        body = data[pos + 12:pos + 12 + size]
        if kind == b"desc":
            rate, fmt, flags, _, _, channels, bits = struct.unpack(">d4sIIIII", body)
            assert (fmt, flags, channels, bits) == (b"lpcm", 2, 1, 16)
        elif kind == b"data":
            pcm = body[4:]
            samples = struct.unpack("<%dh" % (len(pcm) // 2), pcm)
        pos += 12 + size
    return rate, samples


def power(samples, rate, frequency):
    coefficient = 2 * math.cos(2 * math.pi * frequency / rate)
    s1 = s2 = 0.0
    for x in samples:
        s1, s2 = x + coefficient * s1 - s2, s1
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2


@unittest.skipUnless(os.path.exists(os.path.join(RESOURCES, "dtmf-0.caf")), "needs the built sounds")
class KeyTones(unittest.TestCase):
    ROWS = [697, 770, 852, 941]
    COLUMNS = [1209, 1336, 1477]
    KEYS = {"1": (697, 1209), "2": (697, 1336), "3": (697, 1477), "4": (770, 1209), "5": (770, 1336),
            "6": (770, 1477), "7": (852, 1209), "8": (852, 1336), "9": (852, 1477), "*": (941, 1209),
            "0": (941, 1336), "#": (941, 1477)}

    def test_each_key_sounds_its_own_row_and_column(self):
        for key, (row, column) in self.KEYS.items():
            rate, samples = read_caf(os.path.join(RESOURCES, "dtmf-%s.caf" % key))
            rows = {f: power(samples, rate, f) for f in self.ROWS}
            columns = {f: power(samples, rate, f) for f in self.COLUMNS}
            self.assertEqual(max(rows, key=rows.get), row, key)
            self.assertEqual(max(columns, key=columns.get), column, key)
            # The other tones are far weaker than the pair.
            self.assertLess(sorted(rows.values())[-2], rows[row] / 100, key)

    @unittest.skipUnless(shutil.which("sndfile-info"), "needs sndfile-programs")
    def test_every_sound_is_read_by_sndfile(self):
        for name in ["dtmf-%s.caf" % k for k in self.KEYS] + ["NewMessage.caf", "Message Sent.caf"]:
            out = subprocess.run(["sndfile-info", os.path.join(RESOURCES, name)], capture_output=True, text=True)
            self.assertEqual(out.returncode, 0, name)
            self.assertIn("Sample Rate : 16000", out.stdout, name)
            self.assertIn("Channels    : 1", out.stdout, name)


BINARY = os.environ.get("HX_BINARY_DIR", "")


def ninja(*args):
    out = subprocess.run(["ninja", "-C", BINARY, "-t", *args], check=True, capture_output=True, text=True)
    return out.stdout.splitlines()


@unittest.skipUnless(shutil.which("ninja") and os.path.exists(os.path.join(BINARY, "build.ninja")),
                     "needs ninja and the build folder it wrote")
class WhatRunsTheAppBuildsTheBundle(unittest.TestCase):
    """Built alone from a clean build folder, the program and each benchmark make every file of the
    bundle first: the commands that build them include each command that writes the bundle."""

    def test_the_program_and_every_benchmark_build_the_whole_bundle(self):
        bundle = set(ninja("commands", "hx_bundle"))
        source = os.environ.get("HX_SOURCE_DIR", "")
        for folder, pattern in (("images", ".svg"), ("symbols", ".svg"), ("pages", ".html")):
            names = [n for n in os.listdir(os.path.join(source, "resources", folder)) if n.endswith(pattern)]
            self.assertTrue(names, folder)
            for name in names:
                self.assertTrue(any(name in c for c in bundle), (folder, name))
        targets = ["app/hx_connect"]
        targets += sorted(line.split(":")[0] for line in ninja("targets", "all")
                          if line.startswith("bench/bench_") and ": phony" not in line)
        for target in targets:
            with self.subTest(target=target):
                missing = bundle - set(ninja("commands", target))
                self.assertFalse(missing, "%s builds without %d bundle command(s), e.g. %s" %
                                 (target, len(missing), sorted(missing)[:1]))


if __name__ == "__main__":
    unittest.main()
