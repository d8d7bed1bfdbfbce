// How Install.exe carries the SHA-256 of the package it was made for: this
// record, in its section data, whose 16-byte marker occurs nowhere else in
// the file, so that a tool (secpack verify --installer) finds the digest
// after it, there and only there.
#pragma once

#define PACKAGE_SEAL_MARKER "data.sec SHA256"
struct PackageSeal {
  char marker[16];  // PACKAGE_SEAL_MARKER and its zero
  unsigned char digest[32];
};
