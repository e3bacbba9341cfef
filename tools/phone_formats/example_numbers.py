#!/usr/bin/python3
"""Writes the phone-number library's example numbers of every region and number type with the
library's own display forms, one per line, tab-separated:
  region (lower case, "001" for the non-geographic codes), "+<calling code><national number>",
  the INTERNATIONAL form, the national significant number, the NATIONAL form.

Usage: example_numbers.py OUT_TSV
The tests format the numbers with the rule file and compare with the library's forms.
"""
import sys

import phonenumbers
from phonenumbers import PhoneNumberFormat, PhoneNumberType


def main():
    types = sorted(getattr(PhoneNumberType, t) for t in dir(PhoneNumberType) if t.isupper() and t != 'UNKNOWN')
    seen = set()
    lines = []
    for cc in sorted(phonenumbers.COUNTRY_CODE_TO_REGION_CODE):
        numbers = []
        if cc in phonenumbers.COUNTRY_CODES_FOR_NON_GEO_REGIONS:
            n = phonenumbers.example_number_for_non_geo_entity(cc)
            if n:
                numbers.append(('001', n))
        else:
            for region in phonenumbers.COUNTRY_CODE_TO_REGION_CODE[cc]:
                for t in types:
                    n = phonenumbers.example_number_for_type(region, t)
                    if n:
                        numbers.append((region.lower(), n))
        for region, n in numbers:
            nsn = phonenumbers.national_significant_number(n)
            if (region, nsn) in seen:
                continue
            seen.add((region, nsn))
            lines.append('\t'.join([region, '+%d%s' % (n.country_code, nsn),
                                    phonenumbers.format_number(n, PhoneNumberFormat.INTERNATIONAL), nsn,
                                    phonenumbers.format_number(n, PhoneNumberFormat.NATIONAL)]) + '\n')
    with open(sys.argv[1], 'w') as f:
        f.writelines(lines)


if __name__ == '__main__':
    main()
