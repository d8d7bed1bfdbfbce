// The protection of the directories the installer makes private.
#pragma once

namespace platform {

// The descriptor, in SDDL. Owner the Administrators; full control for
// SYSTEM and the Administrators only, inherited by everything below; "P"
// keeps out what the parent would pass on (c:\ lets every user create
// folders and files below it). No entry for the user running the
// installer: that user's unelevated programs carry the same user SID, and
// only their token's Administrators group is for deny only. The High
// label with no-write-up keeps every program below High integrity from
// writing there, whatever the entries say.
inline constexpr const char* kPrivateDirectorySddl =
    "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)S:(ML;OICI;NW;;;HI)";

}  // namespace platform
