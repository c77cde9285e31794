#include "download/signature.h"

#include <algorithm>

#include "base/text.h"

namespace stub {
namespace {

constexpr size_t kSha256Digits = 64;

bool IsHexDigits(std::u16string_view text) {
  for (char16_t c : text) {
    const char16_t lower = c | 0x20;
    if (!((c >= u'0' && c <= u'9') || (lower >= u'a' && lower <= u'f'))) return false;
  }
  return true;
}

bool IsPinned(std::u16string_view pins, std::u16string_view signer) {
  if (signer.size() != kSha256Digits) return false;
  for (size_t begin = 0; begin < pins.size();) {
    size_t end = pins.find(u',', begin);
    if (end == std::u16string_view::npos) end = pins.size();
    if (pins.substr(begin, end - begin) == signer) return true;
    begin = end + 1;
  }
  return false;
}

}  // namespace

SignVerdict JudgeSignature(const SignatureFacts& facts, std::u16string_view pins) {
  switch (facts.trust) {
    case 0:
      break;
    case kTrustNoSignature:
    case kTrustUnknownForm:
    case kTrustNoProvider:
      return SignVerdict::Unsigned;
    case kTrustBadDigest:
    case kTrustBadHash:
      return SignVerdict::BadDigest;
    default:  // untrusted, expired, revoked or distrusted signers, and checks that could not run
      return SignVerdict::UntrustedRoot;
  }
  // A signature that verifies proves nothing by itself: the signer's chain
  // must end at a root the machine trusts, with no error on the way (Wine's
  // WinVerifyTrust accepts unknown roots, so this is looked at here).
  if (facts.chainErrors != 0) return SignVerdict::UntrustedRoot;
  return IsPinned(pins, facts.signer) ? SignVerdict::Ok : SignVerdict::NotPinned;
}

const char16_t* SignText(SignVerdict verdict) {
  switch (verdict) {
    case SignVerdict::Ok: return u"ok";
    case SignVerdict::Unsigned: return u"unsigned";
    case SignVerdict::BadDigest: return u"bad-digest";
    case SignVerdict::UntrustedRoot: return u"untrusted-root";
    case SignVerdict::NotPinned: break;
  }
  return u"not-pinned";
}

bool Sha256Matches(std::u16string_view announced, std::u16string_view actual) {
  return announced.size() == kSha256Digits && IsHexDigits(announced) && ToLower(announced) == actual;
}

bool ParseSigners(std::u16string_view text, std::u16string& pins, std::u16string& bad) {
  pins.clear();
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t end = std::min(text.find_first_of(u",; \t\r\n", begin), text.size());
    const std::u16string_view entry = text.substr(begin, end - begin);
    begin = end + 1;
    if (entry.empty()) continue;
    const std::u16string hex = ReplaceAll(entry, u":", u"");
    if (hex.size() != kSha256Digits || !IsHexDigits(hex)) {
      bad = std::u16string(entry);
      return false;
    }
    if (!pins.empty()) pins += u',';
    pins += ToLower(hex);
  }
  return true;
}

}  // namespace stub
