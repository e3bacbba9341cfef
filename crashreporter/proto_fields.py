#!/usr/bin/env python3
"""Writes the field numbers and enumeration values of a proto2 schema as C++ constants.

The crash-time report writer encodes fields by hand (it may not allocate, so it cannot use the
generated packers); this keeps its field numbers tied to the schema instead of to literals.
Usage: proto_fields.py SCHEMA.proto OUTPUT.h
"""
import re
import sys


def tokens(text):
    text = re.sub(r"//[^\n]*", "", text)
    return re.findall(r"[A-Za-z_][A-Za-z0-9_.]*|-?\d+|[{}=;]", text)


def main(schema, output):
    toks = tokens(open(schema, encoding="utf-8").read())
    package = None
    out = []
    depth = 0
    i = 0

    def emit(line):
        out.append("    " * depth + line)

    while i < len(toks):
        t = toks[i]
        if t == "package":
            package = toks[i + 1]
            i += 3
        elif t in ("syntax", "option", "import"):
            while toks[i] != ";":
                i += 1
            i += 1
        elif t in ("message", "enum") and i + 2 < len(toks) and toks[i + 2] == "{":
            emit("namespace %s {" % toks[i + 1])
            depth += 1
            i += 3
        elif t == "}":
            depth -= 1
            emit("}")
            i += 1
        elif t in ("required", "optional", "repeated"):
            # label type name = number ;
            name, number = toks[i + 2], toks[i + 4]
            emit("inline constexpr uint32_t %s = %s;" % (name, number))
            i += 6
        elif i + 3 < len(toks) and toks[i + 1] == "=" and toks[i + 3] == ";":
            # an enumeration value
            emit("inline constexpr uint32_t %s = %s;" % (t, toks[i + 2]))
            i += 4
        else:
            raise SystemExit("proto_fields: cannot read %r near token %d" % (t, i))
    if depth != 0:
        raise SystemExit("proto_fields: unbalanced braces")
    ns = "%s::fields" % package if package else "fields"
    with open(output, "w", encoding="utf-8") as f:
        f.write("// Generated from %s by proto_fields.py: field numbers and enumeration values.\n" % schema.split("/")[-1])
        f.write("#pragma once\n\n#include <cstdint>\n\nnamespace %s {\n\n" % ns)
        f.write("\n".join(out))
        f.write("\n\n}  // namespace %s\n" % ns)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
