// Windows security descriptors, spelt byte by byte from winnt.h's layout
// (self-relative descriptor, SIDs, an ACL of ACEs), and what the tree
// removal's rule reads from them: whose the directory is, and whether
// anyone beyond SYSTEM, the Administrators and its owner may change it.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/SecurityDescriptor.h"

namespace {

std::string Le16(unsigned value) { return {char(value & 0xFF), char(value >> 8 & 0xFF)}; }
std::string Le32(uint32_t value) { return Le16(value & 0xFFFF) + Le16(value >> 16); }

std::string Sid(unsigned char authority, std::initializer_list<uint32_t> subAuthorities) {
  std::string sid = {1, static_cast<char>(subAuthorities.size()), 0, 0, 0, 0, 0, static_cast<char>(authority)};
  for (uint32_t sub : subAuthorities) sid += Le32(sub);
  return sid;
}

const std::string kSystem = Sid(5, {18});
const std::string kAdministrators = Sid(5, {32, 544});
const std::string kUser = Sid(5, {21, 1, 2, 3, 1000});
const std::string kEveryone = Sid(1, {0});
const std::string kAuthenticatedUsers = Sid(5, {11});
const std::string kUsers = Sid(5, {32, 545});
const std::string kOwnerRights = Sid(3, {4});
const std::string kCreatorOwner = Sid(3, {0});

// An ACE: type (0 allowed, 1 denied, 9 allowed with a callback), flags,
// access mask, SID.
std::string Ace(unsigned char type, unsigned char flags, uint32_t mask, const std::string& sid) {
  return std::string{static_cast<char>(type), static_cast<char>(flags)} + Le16(8 + sid.size()) +
         Le32(mask) + sid;
}

std::string Acl(const std::vector<std::string>& aces) {
  std::string body;
  for (const std::string& ace : aces) body += ace;
  return std::string{2, 0} + Le16(8 + body.size()) + Le16(aces.size()) + Le16(0) + body;
}

// Self-relative; dacl "": none present.
std::string Descriptor(const std::string& owner, const std::string& dacl) {
  const unsigned control = 0x8000 | (dacl.empty() ? 0 : 0x0004);
  const uint32_t daclAt = dacl.empty() ? 0 : 20 + owner.size();
  return std::string{1, 0} + Le16(control) + Le32(20) + Le32(0) + Le32(0) + Le32(daclAt) + owner + dacl;
}

constexpr uint32_t kFullControl = 0x1F01FF;
constexpr uint32_t kReadAndExecute = 0x1200A9;
constexpr uint32_t kAddSubdirectory = 0x4;
constexpr unsigned char kInheritOnly = 0x0B;  // passed on to files and folders only

TEST(SecurityDescriptor, WhoseItIsAndWhetherOthersMayChangeIt) {
  const platform::OwnerKind kAdmins = platform::OwnerKind::kAdministrators;
  const platform::OwnerKind kOther = platform::OwnerKind::kOther;
  const struct {
    const char* what;
    std::string owner;
    std::string dacl;
    platform::OwnerKind kind;
    bool othersMayChange;
  } cases[] = {
      {"the installer's own", kAdministrators,
       Acl({Ace(0, 3, kFullControl, kSystem), Ace(0, 3, kFullControl, kAdministrators)}), kAdmins, false},
      {"a user's, as Wine reports every directory", kUser,
       Acl({Ace(0, 3, kFullControl, kSystem), Ace(0, 3, kFullControl, kUser),
            Ace(0, 3, kReadAndExecute, kEveryone)}),
       kOther, false},
      {"made under c:\\, where every user may add folders", kAdministrators,
       Acl({Ace(0, 3, kFullControl, kAdministrators), Ace(0, 0, kAddSubdirectory, kAuthenticatedUsers)}),
       kAdmins, true},
      {"passing on a change right only to what is made inside", kAdministrators,
       Acl({Ace(0, kInheritOnly, kFullControl, kUsers)}), kAdmins, true},
      {"a creator-owner entry", kAdministrators, Acl({Ace(0, kInheritOnly, kFullControl, kCreatorOwner)}),
       kAdmins, true},
      {"owner rights, and a denial to everyone", kUser,
       Acl({Ace(0, 0, kFullControl, kOwnerRights), Ace(1, 0, kFullControl, kEveryone)}), kOther, false},
      {"an entry of a kind it does not read", kSystem, Acl({Ace(9, 0, 0x2, kUser)}),
       platform::OwnerKind::kSystem, true},
      {"no DACL at all: everyone may", kAdministrators, "", kAdmins, true},
      {"an empty DACL: only the owner may", kUser, Acl({}), kOther, false},
      {"another user may only write its attributes", kUser, Acl({Ace(0, 0, 0x100, kUsers)}), kOther, true},
      {"another user may only delete it", kUser, Acl({Ace(0, 0, 0x10000, kUsers)}), kOther, true},
      {"an owner of fifteen sub-authorities", Sid(5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}),
       Acl({}), kOther, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string bytes = Descriptor(c.owner, c.dacl);
    platform::DirectoryInfo info = {};
    ASSERT_TRUE(platform::ReadSecurityDescriptor(reinterpret_cast<const unsigned char*>(bytes.data()),
                                                 bytes.size(), &info));
    EXPECT_EQ(c.owner, std::string(reinterpret_cast<char*>(info.owner), info.ownerSize));
    EXPECT_EQ(c.kind, info.ownerKind);
    EXPECT_EQ(c.othersMayChange, info.othersMayChange);
  }
}

// Bytes that are no descriptor are not read at all; a DACL that runs past
// them counts against the directory.
TEST(SecurityDescriptor, WhatCannotBeReadIsNeverTakenForSafe) {
  const std::string good = Descriptor(kAdministrators, Acl({Ace(0, 3, kFullControl, kSystem)}));
  platform::DirectoryInfo info = {};
  auto read = [&](const std::string& bytes) {
    return platform::ReadSecurityDescriptor(reinterpret_cast<const unsigned char*>(bytes.data()),
                                            bytes.size(), &info);
  };
  EXPECT_FALSE(read(good.substr(0, 19)));              // a header cut short
  EXPECT_FALSE(read(good.substr(0, 20 + 10)));         // an owner cut short
  EXPECT_FALSE(read(std::string(1, 2) + good.substr(1)));  // another revision
  ASSERT_TRUE(read(good.substr(0, good.size() - 4)));  // the ACE cut short
  EXPECT_TRUE(info.othersMayChange);
  // A SID of sixteen sub-authorities is no SID: as an owner, or in an ACE.
  const std::string sixteen = Sid(5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  EXPECT_FALSE(read(Descriptor(sixteen, Acl({}))));
  ASSERT_TRUE(read(Descriptor(kAdministrators, Acl({Ace(0, 0, kReadAndExecute, sixteen)}))));
  EXPECT_TRUE(info.othersMayChange);
}

}  // namespace
