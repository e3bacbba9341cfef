// Contact cards as an independent vCard writer (python3-vobject) makes them, for the tests that
// read them back: person.vcf (Ada Lovelace, a mobile number and the given photo), plain.vcf
// ("\u00e9mile zola", no photo), org.vcf (the organisation "Acme & Sons", KIND:org) and three.vcf
// (Ann Lee, Bo Kim, Cy O'Neil).
#pragma once

#include <filesystem>
#include <string>

#include "platform/foundation/files.h"
#include "tests/support/test_support.h"

namespace hxtest {

inline bool haveVobject() {
    return haveProgram("/usr/bin/python3") && runCommand("/usr/bin/python3 -c 'import vobject'") == 0;
}

// Writes the four files into dir; the photo's bytes are stored as they are with its type
// ("JPEG", "PNG"). The writer's output on failure.
inline std::string writeVobjectCards(const std::filesystem::path& dir, const foundation::Data& photo,
                                     const std::string& photoType) {
    const std::string script = R"PY(
import sys, vobject
def person(given, family, tel, photo=None):
    c = vobject.vCard()
    c.add('n').value = vobject.vcard.Name(family=family, given=given)
    c.add('fn').value = given + ' ' + family
    t = c.add('tel'); t.value = tel; t.type_param = 'CELL'
    if photo is not None:
        p = c.add('photo'); p.value = photo; p.encoding_param = 'b'; p.type_param = sys.argv[3]
    return c
def org(name, tel):
    c = vobject.vCard()
    c.add('n').value = vobject.vcard.Name()
    c.add('fn').value = name
    c.add('org').value = [name]
    c.add('kind').value = 'org'
    t = c.add('tel'); t.value = tel; t.type_param = 'WORK'
    return c
out = sys.argv[1]
photo = open(sys.argv[2], 'rb').read()
open(out + '/person.vcf', 'w').write(person('Ada', 'Lovelace', '+44 20 7946 0958', photo).serialize())
open(out + '/plain.vcf', 'w').write(person('\u00e9mile', 'zola', '+33 1 23 45 67 89').serialize())
open(out + '/org.vcf', 'w').write(org('Acme & Sons', '+1 555 0100').serialize())
open(out + '/three.vcf', 'w').write(''.join(person(g, f, t).serialize() for g, f, t in
    [('Ann', 'Lee', '+1 555 0101'), ('Bo', 'Kim', '+1 555 0102'), ('Cy', "O'Neil", '+1 555 0103')]))
)PY";
    if (!foundation::files::writeAtomically(dir / "make_cards.py", std::string_view(script)).ok() ||
        !foundation::files::writeAtomically(dir / "photo.bin", photo).ok())
        return "cannot write the writer's files";
    std::string output;
    const int status = runCommand("/usr/bin/python3 " + (dir / "make_cards.py").string() + " " + dir.string() + " " +
                                      (dir / "photo.bin").string() + " " + photoType + " 2>&1",
                                  &output);
    return status == 0 ? std::string() : output.empty() ? std::string("the writer failed") : output;
}

}  // namespace hxtest
