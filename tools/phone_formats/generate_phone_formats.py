#!/usr/bin/python3
"""Builds the phone-format rule file "PhoneFormats.dat" from the Debian phone-number metadata.

Usage: generate_phone_formats.py OUT_DAT

The rule file layout (little-endian):
  header: count (int32), then per entry: calling code (4 bytes, NUL-padded), country (4 bytes,
  NUL-padded), record offset relative to the end of the header (uint32)
  record at R: rule-set offset S (rel. R), format offset F (rel. R+S), rule-set count, trunk
  prefixes (NUL-terminated, ended by an empty string), international prefixes (likewise),
  then at R+S the rule sets: matchLen (u16), rule count (u16), 16-byte rules; then at R+S+F the
  NUL-terminated patterns that the rules point at (offset P rel. R+S+F).

A rule picks a pattern by the value of the leading matchLen digits (an inclusive range) and by
the number's length (at most maxLen; validity wants it exact). The metadata selects a format by
a leading-digits regular expression and a full-number pattern, so each format becomes one rule
per range of leading digits its expression allows and per run of lengths that one pattern
serves, and every possible length of the code's numbers gets a fallback rule for any leading
digits (the digits in one run, as the library shows a number no format covers). Each kind of
rule (international, with the trunk prefix, national) has its own rule sets.
"""
import struct
import sys

import phonenumbers
from phonenumbers.phonemetadata import PhoneMetadata

MAX_DEPTH = 9  # the leading-digit value must stay inside a signed 32-bit integer
FLAG_TRUNK = 1
FLAG_INTL = 2


# ---- a small regular-expression engine over the digits, enough for the metadata's patterns

class _Parser:
    def __init__(self, text):
        self.s = text
        self.i = 0
        self.groups = []  # capture groups as (start_state, end_state) are not needed; count only

    def peek(self):
        return self.s[self.i] if self.i < len(self.s) else None

    def take(self):
        c = self.s[self.i]
        self.i += 1
        return c

    def parse(self):
        node = self.alt()
        if self.i != len(self.s):
            raise ValueError("unparsed regex tail: %r" % self.s[self.i:])
        return node

    def alt(self):
        branches = [self.seq()]
        while self.peek() == '|':
            self.take()
            branches.append(self.seq())
        return ('alt', branches) if len(branches) > 1 else branches[0]

    def seq(self):
        items = []
        while self.peek() not in (None, '|', ')'):
            items.append(self.quantified())
        return ('seq', items)

    def quantified(self):
        atom = self.atom()
        while True:
            c = self.peek()
            if c == '?':
                self.take()
                atom = ('rep', atom, 0, 1)
            elif c == '*':
                self.take()
                atom = ('rep', atom, 0, None)
            elif c == '+':
                self.take()
                atom = ('rep', atom, 1, None)
            elif c == '{':
                self.take()
                num = ''
                while self.peek() not in ('}', ','):
                    num += self.take()
                lo = int(num)
                hi = lo
                if self.peek() == ',':
                    self.take()
                    num = ''
                    while self.peek() != '}':
                        num += self.take()
                    hi = int(num) if num else None
                self.take()
                atom = ('rep', atom, lo, hi)
            else:
                return atom

    def atom(self):
        c = self.take()
        if c == '(':
            capture = True
            if self.s.startswith('?:', self.i):
                self.i += 2
                capture = False
            node = self.alt()
            if self.take() != ')':
                raise ValueError("missing )")
            return ('group', node, capture)
        if c == '[':
            chars = set()
            negate = False
            if self.peek() == '^':
                self.take()
                negate = True
            while self.peek() != ']':
                a = self.take()
                if a == '\\':
                    a = self.take()
                    if a == 'd':
                        chars |= set('0123456789')
                        continue
                if self.peek() == '-' and self.s[self.i + 1] != ']':
                    self.take()
                    b = self.take()
                    chars |= {chr(x) for x in range(ord(a), ord(b) + 1)}
                else:
                    chars.add(a)
            self.take()
            if negate:
                chars = set('0123456789') - chars
            return ('set', frozenset(chars & set('0123456789')))
        if c == '\\':
            e = self.take()
            if e == 'd':
                return ('set', frozenset('0123456789'))
            return ('set', frozenset(e) & frozenset('0123456789'))
        if c == '.':
            return ('set', frozenset('0123456789'))
        return ('set', frozenset(c) & frozenset('0123456789'))


class NFA:
    """Thompson automaton over the digits; states are ints, edges (charset or None, target)."""

    def __init__(self, pattern):
        self.edges = []
        tree = _Parser(pattern).parse()
        self.start, self.accept = self._build(tree)

    def _new(self):
        self.edges.append([])
        return len(self.edges) - 1

    def _build(self, node):
        kind = node[0]
        if kind == 'set':
            a, b = self._new(), self._new()
            self.edges[a].append((node[1], b))
            return a, b
        if kind == 'group':
            return self._build(node[1])
        if kind == 'seq':
            a = self._new()
            cur = a
            for item in node[1]:
                s, e = self._build(item)
                self.edges[cur].append((None, s))
                cur = e
            return a, cur
        if kind == 'alt':
            a, b = self._new(), self._new()
            for br in node[1]:
                s, e = self._build(br)
                self.edges[a].append((None, s))
                self.edges[e].append((None, b))
            return a, b
        if kind == 'rep':
            _, sub, lo, hi = node
            a = self._new()
            cur = a
            for _ in range(lo):
                s, e = self._build(sub)
                self.edges[cur].append((None, s))
                cur = e
            end = self._new()
            if hi is None:
                s, e = self._build(sub)
                self.edges[cur].append((None, s))
                self.edges[e].append((None, cur))
                self.edges[cur].append((None, end))
            else:
                for _ in range(hi - lo):
                    s, e = self._build(sub)
                    self.edges[cur].append((None, s))
                    self.edges[cur].append((None, end))
                    cur = e
                self.edges[cur].append((None, end))
            return a, end
        raise ValueError(kind)

    def closure(self, states):
        stack = list(states)
        seen = set(states)
        while stack:
            s = stack.pop()
            for cs, t in self.edges[s]:
                if cs is None and t not in seen:
                    seen.add(t)
                    stack.append(t)
        return frozenset(seen)

    def step(self, states, digit):
        nxt = set()
        for s in states:
            for cs, t in self.edges[s]:
                if cs is not None and digit in cs:
                    nxt.add(t)
        return self.closure(nxt)

    def initial(self):
        return self.closure([self.start])


def leading_prefixes(pattern):
    """The minimal digit prefixes p such that every number starting with p starts with a match
    of pattern (the library's 'looking at' test). None for 'every number'."""
    if pattern is None:
        return ['']
    nfa = NFA(pattern)
    out = []

    def walk(prefix, states):
        if nfa.accept in states:
            out.append(prefix)
            return
        if len(prefix) >= MAX_DEPTH:
            out.append(prefix)  # deeper than a rule can look: accept the prefix as it stands
            return
        for d in '0123456789':
            nxt = nfa.step(states, d)
            if nxt:
                walk(prefix + d, nxt)

    walk('', nfa.initial())
    return out


def group_lengths(pattern):
    """The capture groups of a number pattern as (min, max) digit counts, or None when the
    pattern is not a plain run of capture groups."""
    tree = _Parser(pattern).parse()
    if tree[0] != 'seq':
        return None
    groups = []
    for item in tree[1]:
        if item[0] != 'group' or not item[2]:
            return None
        lo, hi = _length_range(item[1])
        if hi is None:
            hi = 15
        groups.append((lo, hi))
    return groups


def _length_range(node):
    kind = node[0]
    if kind == 'set':
        return 1, 1
    if kind == 'group':
        return _length_range(node[1])
    if kind == 'seq':
        lo = hi = 0
        for item in node[1]:
            a, b = _length_range(item)
            lo += a
            hi = None if hi is None or b is None else hi + b
        return lo, hi
    if kind == 'alt':
        ranges = [_length_range(b) for b in node[1]]
        lo = min(r[0] for r in ranges)
        hi = None if any(r[1] is None for r in ranges) else max(r[1] for r in ranges)
        return lo, hi
    if kind == 'rep':
        a, b = _length_range(node[1])
        lo = a * node[2]
        hi = None if node[3] is None or b is None else b * node[3]
        return lo, hi
    raise ValueError(kind)


def greedy_split(groups, total):
    """How a greedy match of the groups splits a number of total digits, or None."""
    sizes = []
    remaining = total
    for idx, (lo, hi) in enumerate(groups):
        rest_lo = sum(g[0] for g in groups[idx + 1:])
        rest_hi = sum(g[1] for g in groups[idx + 1:])
        take = min(hi, remaining - rest_lo)
        if take < lo or remaining - take > rest_hi:
            return None
        sizes.append(take)
        remaining -= take
    return sizes if remaining == 0 else None


def pattern_for(fmt, sizes):
    """The rule pattern for a library format ("\\1 \\2") with the given group sizes, or None
    when the format does not use every group once and in order."""
    out = ''
    expected = 1
    i = 0
    while i < len(fmt):
        c = fmt[i]
        if c == '\\' and i + 1 < len(fmt) and fmt[i + 1].isdigit():
            g = int(fmt[i + 1])
            if g != expected:
                return None
            out += '#' * sizes[g - 1]
            expected += 1
            i += 2
            continue
        if c in '#cn':
            return None  # a literal that the rule language would read as a placeholder
        out += c
        i += 1
    if expected != len(sizes) + 1:
        return None
    return out


def finite_strings(pattern, limit=64):
    """Every string of a finite regular language (the international prefixes), longest first."""
    nfa = NFA(pattern)
    out = []

    def walk(prefix, states):
        if len(out) > limit or len(prefix) > 8:
            return
        if nfa.accept in states:
            out.append(prefix)
        for d in '0123456789':
            nxt = nfa.step(states, d)
            if nxt:
                walk(prefix + d, nxt)

    walk('', nfa.initial())
    return sorted(set(out), key=lambda s: (-len(s), s))


# ---- building records

class Rule:
    def __init__(self, lo, hi, max_len, flag, pattern, depth):
        self.lo, self.hi, self.max_len, self.flag, self.pattern, self.depth = lo, hi, max_len, flag, pattern, depth


def ranges_for(prefixes, match_len):
    spans = []
    for p in prefixes:
        scale = 10 ** (match_len - len(p))
        base = int(p) if p else 0
        spans.append((base * scale, (base + 1) * scale - 1))
    spans.sort()
    merged = []
    for lo, hi in spans:
        if merged and lo <= merged[-1][1] + 1:
            merged[-1] = (merged[-1][0], max(merged[-1][1], hi))
        else:
            merged.append((lo, hi))
    return merged


FALLBACK_ORDER = 1 << 30  # after every format of the same length


def render(pattern, digits, intl=None, trunk=None):
    """What the app's formatter makes of digits with a rule's pattern (its rule walk)."""
    out = ''
    k = 0
    group = False
    intl_placed = trunk_placed = False
    previous = ''
    for ch in pattern:
        if ch == '#':
            if k < len(digits):
                out += digits[k]
                k += 1
            elif group:
                out += ' '
        elif ch == 'c':
            out += intl or ''
            intl_placed = True
        elif ch == 'n':
            out += trunk or ''
            trunk_placed = True
        else:
            if ch == '(' and k < len(digits):
                group = True
            if not (ch == ' ' and ((previous == 'n' and not trunk) or (previous == 'c' and not intl))):
                if k < len(digits) or (ch == ')' and group):
                    out += ch
                if ch == ')':
                    group = False
        previous = ch
    if intl and not intl_placed:
        return intl + ' ' + out
    if trunk and not trunk_placed:
        return trunk + out
    return out


def segments(patterns, splits):
    """Runs of consecutive lengths that one rule can serve: the pattern of the run's longest
    length formats every shorter length of the run as that length's own pattern does (a rule
    fits every number up to its length). A run never crosses a length in splits."""
    runs = []
    for length in sorted(patterns):
        if runs and length == runs[-1][1] + 1 and length not in splits:
            lo = runs[-1][0]
            candidate = patterns[length]
            if all(render(candidate, '5' * n) == render(patterns[n], '5' * n) for n in range(lo, length + 1)):
                runs[-1] = (lo, length)
                continue
        runs.append((length, length))
    return runs


def rules_from_formats(formats, flag, national_prefix):
    """(first length, order, prefixes, pattern, length) per format and run of number lengths,
    to be tried in the order of their first length, then the library's order of formats.

    A rule serves every length of its run; the runs of all formats start anew at every length at
    which some format starts, so that wherever two formats compete the library's order decides.
    The national form of a format is written twice: with its trunk prefix as "n" for numbers
    dialled with it (FLAG_TRUNK), and with the prefix as literal digits for the national
    significant number alone (flag 0), so both come out as the library's national form."""
    prepared = []
    for order, f in enumerate(formats):
        if f.format == 'NA':
            continue
        groups = group_lengths(f.pattern)
        if groups is None:
            continue
        fmt = f.format
        if flag != FLAG_INTL and f.national_prefix_formatting_rule:
            rule = f.national_prefix_formatting_rule
            at = rule.find('\\1')
            if at < 0:
                continue
            head = rule[:at]
            if national_prefix and national_prefix in head:
                head = head.replace(national_prefix, '\x02', 1)
            fmt = fmt.replace('\\1', head + rule[at:], 1)
        leading = f.leading_digits_pattern[-1] if f.leading_digits_pattern else None
        prefixes = leading_prefixes(leading)
        # Digits that the national form shows after the trunk prefix (a "0" after the "8" of
        # "8 0152 45-09-11") are dialled after it too: with the trunk prefix typed, they are
        # digits of the rest, which the rule takes with "#" and expects in front of the number.
        extra = ''
        if flag == FLAG_TRUNK and '\x02' in fmt:
            lead = fmt[:fmt.find('\\')] if '\\' in fmt else fmt
            extra = ''.join(ch for ch in lead if ch.isdigit())
            if extra:
                prefixes = [extra + p for p in prefixes]
        lo_total = sum(g[0] for g in groups)
        hi_total = sum(g[1] for g in groups)
        patterns = {}
        for total in range(lo_total, min(hi_total, 17) + 1):
            sizes = greedy_split(groups, total)
            if sizes is None:
                continue
            pattern = pattern_for(fmt, sizes)
            if pattern is None:
                continue
            if extra:
                first = pattern.find('#')
                pattern = ''.join('#' if ch.isdigit() else ch for ch in pattern[:first]) + pattern[first:]
            pattern = pattern.replace('\x02', 'n' if flag == FLAG_TRUNK else (national_prefix or ''))
            if flag == FLAG_INTL:
                pattern = 'c ' + pattern
            patterns[total + len(extra)] = pattern
        if patterns:
            prepared.append((order, prefixes, patterns))
    splits = {min(p) for _, _, p in prepared}
    out = []
    for order, prefixes, patterns in prepared:
        for lo, hi in segments(patterns, splits):
            out.append((lo, order, prefixes, patterns[hi], hi))
    return out


def fallback_rules(lengths, flag):
    """One rule per possible length of the code's numbers for any leading digits, tried after
    the formats of that length: a valid number that no display format covers (a short number,
    a range whose formats are national-only, a region without formats) is still valid and is
    shown as the library shows it, its digits in one run after the calling code."""
    pattern = {FLAG_INTL: 'c ', FLAG_TRUNK: 'n', 0: ''}[flag]
    return [(length, FALLBACK_ORDER, [''], pattern + '#' * length, length) for length in sorted(lengths)]


def rule_sets_for(entries, flag):
    """Rule sets for one kind of rule: one set per distinct depth, deepest first; the set of
    depth d holds every rule that d leading digits can decide, so shorter numbers still find a
    set they are long enough for. The last set has depth 0 and holds the rules that need no
    leading digit (the per-length fallbacks), so that no number is too short for every set.
    Within a set the rules go by first length, then format order: a number reaches the fallback
    of its own length only after every rule that serves that length."""
    if not entries:
        return []
    entries = sorted(entries, key=lambda e: (e[0], e[1]))
    depths = sorted({max(len(p) for p in e[2]) for e in entries}, reverse=True)
    if 0 in depths:
        depths = [d for d in depths if d != 0][:2] + [0]
    else:
        depths = depths[:3]
    sets = []
    for d in depths:
        rules = []
        for _, _, prefixes, pattern, max_len in entries:
            depth = max(len(p) for p in prefixes)
            if depth > d:
                continue
            for lo, hi in ranges_for(prefixes, d):
                rules.append(Rule(lo, hi, max_len, flag, pattern, d))
        sets.append((d, rules, len(sets)))
    return sets


def shrink(sets):
    """The sets without the ones to give up first when a record outgrows its 16-bit offsets: a
    shallower set of specific formats (it only serves numbers shorter than the deepest
    leading-digit test), else every set of one kind at once (a kind keeps its fallbacks only
    together with its formats): the trunk forms first (a number dialled with the trunk prefix
    then takes the international grouping after it), then the national forms. None when
    nothing is left to give up."""
    kind = lambda k: sets[k][1][0].flag if sets[k][1] else None
    deepest = {}
    for k, (depth, rules, _) in enumerate(sets):
        deepest.setdefault(kind(k), k)
    shallower = [k for k, (depth, _, _) in enumerate(sets) if depth > 0 and deepest[kind(k)] != k]
    if shallower:
        drop = max(shallower, key=lambda k: (sets[k][2], k))
        return sets[:drop] + sets[drop + 1:]
    for flag in (FLAG_TRUNK, 0):
        if any(kind(k) == flag for k in range(len(sets))):
            return [sets[k] for k in range(len(sets)) if kind(k) != flag]
    return None


def nanp_record():
    """Calling code 1: local, national, trunk and international forms as the app shows them."""
    rules = [
        Rule(2, 9, 7, 0, '###-####', 1),
        Rule(2, 9, 7, FLAG_INTL, 'c ###-####', 1),
        Rule(2, 9, 10, 0, '(###) ###-####', 1),
        Rule(2, 9, 10, FLAG_TRUNK, 'n (###) ###-####', 1),
        Rule(2, 9, 10, FLAG_INTL, 'c (###) ###-####', 1),
    ]
    return ['1'], ['011'], [(1, rules, 0)]


def possible_lengths(cc):
    """Every national-number length the metadata allows for the calling code, over all of its
    regions and number types."""
    lengths = set()
    regions = phonenumbers.COUNTRY_CODE_TO_REGION_CODE[cc]
    metas = [PhoneMetadata.metadata_for_nongeo_region(cc)] if regions == ('001',) or \
        cc in phonenumbers.COUNTRY_CODES_FOR_NON_GEO_REGIONS else \
        [PhoneMetadata.metadata_for_region(r) for r in regions]
    for meta in metas:
        if meta is None:
            continue
        for desc in (meta.general_desc, meta.fixed_line, meta.mobile, meta.toll_free, meta.premium_rate,
                     meta.shared_cost, meta.personal_number, meta.voip, meta.pager, meta.uan, meta.voicemail):
            if desc is not None:
                lengths |= {n for n in desc.possible_length if 0 < n <= 17}
    return lengths


def record_for(cc, meta):
    if cc == 1:
        return nanp_record()
    trunk = [meta.national_prefix] if meta.national_prefix else []
    intl = finite_strings(meta.international_prefix) if meta.international_prefix else []
    if meta.preferred_international_prefix and '~' not in meta.preferred_international_prefix:
        pref = meta.preferred_international_prefix
        intl = [pref] + [p for p in intl if p != pref]
    intl_formats = list(meta.intl_number_format) or list(meta.number_format)
    lengths = possible_lengths(cc)
    sets = []
    sets += rule_sets_for(rules_from_formats(intl_formats, FLAG_INTL, None) + fallback_rules(lengths, FLAG_INTL),
                          FLAG_INTL)
    if trunk:
        sets += rule_sets_for(rules_from_formats(meta.number_format, FLAG_TRUNK, meta.national_prefix) +
                              fallback_rules(lengths, FLAG_TRUNK), FLAG_TRUNK)
    sets += rule_sets_for(rules_from_formats(meta.number_format, 0, meta.national_prefix) +
                          fallback_rules(lengths, 0), 0)
    return trunk, intl, sets


def encode_record(trunk, intl, sets):
    prefix_area = b''
    for p in trunk:
        prefix_area += p.encode() + b'\0'
    prefix_area += b'\0'
    for p in intl:
        prefix_area += p.encode() + b'\0'
    prefix_area += b'\0'
    s_off = 12 + len(prefix_area)
    s_off += (-s_off) % 4
    patterns = {}
    pattern_area = b''
    set_area = b''
    for match_len, rules, _ in sets:
        set_area += struct.pack('<HH', match_len, len(rules))
        for r in rules:
            if r.pattern not in patterns:
                patterns[r.pattern] = len(pattern_area)
                pattern_area += r.pattern.encode() + b'\0'
            set_area += struct.pack('<iiBBBBBBH', r.lo, r.hi, 0, r.max_len, 0, 0, r.flag, 0, patterns[r.pattern])
    f_off = len(set_area)
    if s_off > 0xFFFF or f_off > 0xFFFF or len(pattern_area) > 0xFFFF or len(sets) > 0xFFFF:
        return None
    head = struct.pack('<III', s_off, f_off, len(sets)) + prefix_area
    head += b'\0' * (s_off - len(head))
    return head + set_area + pattern_area


def main():
    out_path = sys.argv[1]
    entries = []  # (cc, country, record bytes)
    records = {}
    codes = sorted(phonenumbers.COUNTRY_CODE_TO_REGION_CODE)
    for cc in codes:
        regions = phonenumbers.COUNTRY_CODE_TO_REGION_CODE[cc]
        if regions == ('001',) or cc in phonenumbers.COUNTRY_CODES_FOR_NON_GEO_REGIONS:
            meta = PhoneMetadata.metadata_for_nongeo_region(cc)
            countries = ['001']
        else:
            meta = PhoneMetadata.metadata_for_region(regions[0])
            countries = [r.lower() for r in regions]
        if meta is None:
            continue
        trunk, intl, sets = record_for(cc, meta)
        blob = encode_record(trunk, intl, sets)
        # Too many rules for the 16-bit offsets: give up what serves the fewest numbers first.
        while blob is None and sets:
            sets = shrink(sets)
            if sets is None:
                break
            blob = encode_record(trunk, intl, sets)
        if blob is None:
            print('generate_phone_formats: no record fits for +%d' % cc, file=sys.stderr)
            continue
        records[cc] = blob
        for country in countries:
            entries.append((str(cc), country))

    header = struct.pack('<i', len(entries))
    body = b''
    offsets = {}
    for cc in sorted(records):
        offsets[str(cc)] = len(body)
        body += records[cc]
        body += b'\0' * ((-len(body)) % 4)
    for code, country in entries:
        header += code.encode().ljust(4, b'\0')[:4] + country.encode().ljust(4, b'\0')[:4]
        header += struct.pack('<I', offsets[code])
    with open(out_path, 'wb') as f:
        f.write(header + body)


if __name__ == '__main__':
    main()
