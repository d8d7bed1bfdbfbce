#include "platform/SecurityDescriptor.h"

#include <string.h>

namespace platform {
namespace {

// The layout, from winnt.h's SECURITY_DESCRIPTOR_RELATIVE, ACL, ACE_HEADER
// and SID: little-endian, offsets from the descriptor's first byte.
constexpr uint32_t kHeaderSize = 20;
constexpr uint16_t kDaclPresent = 0x0004;
constexpr uint16_t kSelfRelative = 0x8000;
constexpr uint32_t kAclHeaderSize = 8;
constexpr uint32_t kAceHeaderSize = 4;
constexpr unsigned char kAccessAllowed = 0;
constexpr unsigned char kAccessDenied = 1;

// Every right that changes a directory or what is in it: add a file or a
// sub-directory, write its attributes or extended attributes, delete a
// child or itself, change its ACL or owner, and the generic and maximum
// rights that include some of those.
constexpr uint32_t kChangeRights = 0x00000002 | 0x00000004 | 0x00000010 | 0x00000040 |
                                   0x00000100 | 0x00010000 | 0x00040000 | 0x00080000 |
                                   0x02000000 | 0x10000000 | 0x40000000;

// S-1-5-18, S-1-5-32-544 and S-1-3-4 (OWNER RIGHTS, the owner itself),
// each in the 16 bytes of a SID of up to two sub-authorities.
constexpr uint32_t kSystem = 0;
constexpr uint32_t kAdministrators = 1;
constexpr uint32_t kKnownSids = 3;
const unsigned char kKnown[kKnownSids][16] = {{1, 1, 0, 0, 0, 0, 0, 5, 18},
                                              {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2},
                                              {1, 1, 0, 0, 0, 0, 0, 3, 4}};

uint32_t Le16(const unsigned char* p) { return p[0] | p[1] << 8; }
uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The length of the SID at offset within limit bytes, 0 when it does not fit.
uint32_t SidLength(const unsigned char* bytes, uint32_t offset, uint32_t limit) {
  if (offset > limit || limit - offset < 8 || bytes[offset] != 1 || bytes[offset + 1] > 15) return 0;
  const uint32_t length = 8 + 4 * bytes[offset + 1];
  return limit - offset >= length ? length : 0;
}

// Which of the known SIDs the SID of length bytes is; kKnownSids: none.
uint32_t KnownSid(const unsigned char* sid, uint32_t length) {
  uint32_t known = 0;
  while (known < kKnownSids && (length != 8 + 4u * kKnown[known][1] || memcmp(sid, kKnown[known], length) != 0)) {
    ++known;
  }
  return known;
}

// Whether the DACL at offset lets anyone but SYSTEM, the Administrators
// and the owner change the object; true too when it cannot be read.
bool OthersMayChange(const unsigned char* bytes, uint32_t size, uint32_t offset,
                     const DirectoryInfo& owner) {
  if (offset == 0 || offset > size || size - offset < kAclHeaderSize) return true;
  const uint32_t aclSize = Le16(bytes + offset + 2);
  const uint32_t count = Le16(bytes + offset + 4);
  if (aclSize < kAclHeaderSize || aclSize > size - offset) return true;
  const uint32_t end = offset + aclSize;
  uint32_t ace = offset + kAclHeaderSize;
  for (uint32_t i = 0; i < count; ++i) {
    if (end - ace < kAceHeaderSize) return true;
    const unsigned char type = bytes[ace];
    const uint32_t aceSize = Le16(bytes + ace + 2);
    if (aceSize < kAceHeaderSize || aceSize > end - ace) return true;
    if (type == kAccessAllowed) {
      // Also an ACE only passed on (inherit-only): what is made inside
      // would let others change it.
      if (aceSize < kAceHeaderSize + 4) return true;
      const uint32_t mask = Le32(bytes + ace + kAceHeaderSize);
      const uint32_t sid = ace + kAceHeaderSize + 4;
      const uint32_t sidLength = SidLength(bytes, sid, ace + aceSize);
      if (sidLength == 0) return true;
      const unsigned char* who = bytes + sid;
      const bool trusted = KnownSid(who, sidLength) < kKnownSids ||
                           (sidLength == owner.ownerSize && memcmp(who, owner.owner, sidLength) == 0);
      if (!trusted && (mask & kChangeRights) != 0) return true;
    } else if (type != kAccessDenied) {
      // A kind it does not read (object, callback, conditional), which may
      // allow: a directory's own never has one.
      return true;
    }
    ace += aceSize;
  }
  return false;
}

}  // namespace

bool ReadSecurityDescriptor(const unsigned char* bytes, uint32_t size, DirectoryInfo* info) {
  if (size < kHeaderSize || bytes[0] != 1) return false;
  const uint32_t control = Le16(bytes + 2);
  if ((control & kSelfRelative) == 0) return false;
  const uint32_t ownerAt = Le32(bytes + 4);
  const uint32_t ownerLength = SidLength(bytes, ownerAt, size);
  if (ownerAt == 0 || ownerLength == 0 || ownerLength > kOwnerSize) return false;
  memcpy(info->owner, bytes + ownerAt, ownerLength);
  info->ownerSize = ownerLength;
  const uint32_t known = KnownSid(bytes + ownerAt, ownerLength);
  info->ownerKind = known == kSystem           ? OwnerKind::kSystem
                    : known == kAdministrators ? OwnerKind::kAdministrators
                                               : OwnerKind::kOther;
  // No DACL at all, like a null one, lets everyone do anything.
  info->othersMayChange =
      (control & kDaclPresent) == 0 || OthersMayChange(bytes, size, Le32(bytes + 16), *info);
  return true;
}

}  // namespace platform
