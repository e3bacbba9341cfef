#!/usr/bin/python3
"""Writes the phone-number library's example numbers with its own international form of each,
one per line: "+<calling code><national number>", a tab, the formatted number.

Usage: example_numbers.py OUT_TSV
The tests format the left column with the rule file and compare with the right one.
"""
import sys

import phonenumbers
from phonenumbers import PhoneNumberFormat, PhoneNumberType


def main():
    types = [getattr(PhoneNumberType, t) for t in dir(PhoneNumberType) if t.isupper() and t != 'UNKNOWN']
    seen = set()
    lines = []
    for cc in sorted(phonenumbers.COUNTRY_CODE_TO_REGION_CODE):
        numbers = []
        if cc in phonenumbers.COUNTRY_CODES_FOR_NON_GEO_REGIONS:
            n = phonenumbers.example_number_for_non_geo_entity(cc)
            if n:
                numbers.append(n)
        else:
            for region in phonenumbers.COUNTRY_CODE_TO_REGION_CODE[cc]:
                for t in types:
                    n = phonenumbers.example_number_for_type(region, t)
                    if n:
                        numbers.append(n)
        for n in numbers:
            text = '+%d%s' % (n.country_code, phonenumbers.national_significant_number(n))
            if text not in seen:
                seen.add(text)
                lines.append('%s\t%s\n' % (text, phonenumbers.format_number(n, PhoneNumberFormat.INTERNATIONAL)))
    with open(sys.argv[1], 'w') as f:
        f.writelines(lines)


if __name__ == '__main__':
    main()
