// The SHA-256 of the package an Install.exe was made for, as the program
// itself holds it (package/PackageSeal.h).
#pragma once

#include <string>

#include "package/PackageSeal.h"
#include "tools/secpack/VerifyArchive.h"

namespace secpack {

enum class Carried {
  kDigest,   // the program carries this digest
  kNone,     // it carries none: a development build, which unpacks any archive
  kRefused,  // not a program, or one no build makes
};

// The digest installer carries, read only from the raw data of its
// sections, as far as the loader maps them: never from its headers, its
// certificate table or past its last section, which the provider's
// signature leaves out or which are no part of the program, so that a seal
// put there does not make a development build pass for a release.
// kRefused, with why, when installer is no Windows program (PE32 or PE32+),
// its headers point past its end, or the marker occurs more than once
// anywhere in the file; kNone may say in why where a marker outside the
// sections was found.
Carried CarriedDigest(ArchiveSource& installer, unsigned char (&digest)[sizeof(PackageSeal::digest)],
                      std::string* why);

}  // namespace secpack
