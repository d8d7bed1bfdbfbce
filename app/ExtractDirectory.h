// "c:\ZUV_tmp", from claim to clean-up. Any user may make that folder
// before the installer runs, two installers (or an installer and a setup
// program still running) may meet there, and what lands there runs with
// administrator rights. So this is the one place that decides what of it
// the installer may remove, and when.
//
// The machine-wide claim (the seam's install lock) is held only while a
// run changes the tree: from "Setup Now" until its setup program is
// started, and again for a clean-up; never during the pause or the watch,
// so a run's watch blocks no later run. A run knows the directory it made
// by what it is, not by its name: its own package goes at the end even
// while its setup program still runs (what that holds, Windows keeps);
// anything else only when nothing of it is in use.
#pragma once

// "Setup Now": refuses a start inside "c:\ZUV_tmp", takes the claim,
// removes what an earlier run or another user left there, and makes the
// directory afresh and private. False, with the user told once, when the
// directory cannot be had; the claim is then not held and nothing there
// has changed.
bool ClaimExtractDirectory();

// The package is unpacked and its setup program started: the installer
// leaves "c:\ZUV_tmp" (for the start directory, or "c:\" without one),
// remembers it as this run's, by what it is, and gives up the claim, so
// that a later run can try again once that program has ended.
void ReleaseExtractDirectory();

// After an extraction that did not succeed: leaves "c:\ZUV_tmp" (for the
// start directory, or "c:\" without one), removes what this run unpacked
// there and gives up the claim.
void GiveUpExtractDirectory();

// The clean-up of the close handler and of the end of the watch: removes
// "c:\ZUV_tmp" as above, leaving "c:\" the current directory. Nothing when
// the installer was started inside it (its kit would go), or while another
// installer changes it for longer than the claim's wait. Whatever cannot be
// removed stays; nothing is reported to the user.
void CleanUpTempDir();
