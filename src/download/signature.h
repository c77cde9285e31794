// What a file must pass, beyond its MD5, before it starts: the exact SHA-256
// a reply announced, and in a build that pins the installer's signers, an
// Authenticode signature by one of them. The platform gathers the facts
// (signature_win.h); the verdict is decided here, where it can be tested.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace stub {

// The reason a signature check gives, as the finish reports carry it.
enum class SignVerdict { Ok, Unsigned, BadDigest, UntrustedRoot, NotPinned };

// WinVerifyTrust results the verdict tells apart; any other failure means
// that nothing the machine trusts vouches for the signer.
inline constexpr uint32_t kTrustNoSignature = 0x800B0100;   // TRUST_E_NOSIGNATURE
inline constexpr uint32_t kTrustUnknownForm = 0x800B0003;   // TRUST_E_SUBJECT_FORM_UNKNOWN: no signable file
inline constexpr uint32_t kTrustNoProvider = 0x800B0001;    // TRUST_E_PROVIDER_UNKNOWN
inline constexpr uint32_t kTrustBadDigest = 0x80096010;     // TRUST_E_BAD_DIGEST
inline constexpr uint32_t kTrustBadHash = 0x80091007;       // CRYPT_E_HASH_VALUE: signed attributes changed
inline constexpr uint32_t kTrustUntrustedRoot = 0x800B0109; // CERT_E_UNTRUSTEDROOT (Windows; Wine returns 0)
inline constexpr uint32_t kChainPartial = 0x10000;          // CERT_TRUST_IS_PARTIAL_CHAIN
inline constexpr uint32_t kChainNone = 0xFFFFFFFF;          // no chain could be built

// What the platform found out about a file's signature.
struct SignatureFacts {
  uint32_t trust = kTrustNoSignature;  // WinVerifyTrust's result; 0: the signature covers the file
  uint32_t chainErrors = kChainNone;   // TrustStatus.dwErrorStatus of the signing certificate's chain
  std::u16string signer = {};          // SHA-256 of the signing certificate, 64 lower-case hex digits
};

// The verdict on `facts` for the pinned fingerprints `pins` ("hex,hex,...").
SignVerdict JudgeSignature(const SignatureFacts& facts, std::u16string_view pins);

// "ok", "unsigned", "bad-digest", "untrusted-root" or "not-pinned".
const char16_t* SignText(SignVerdict verdict);

// True when `announced` is exactly 64 hex digits (either case) and equal to
// the computed `actual` (64 lower-case hex digits). Anything else announced,
// the empty text included, never matches.
bool Sha256Matches(std::u16string_view announced, std::u16string_view actual);

// Build-time form of the pinned list: entries separated by commas, semicolons
// or blanks, each 64 hex digits with or without ":" between the bytes (as
// openssl prints a fingerprint). Sets `pins` to "hex,hex,..." in lower case;
// false (naming the entry in `bad`) when an entry is malformed.
bool ParseSigners(std::u16string_view text, std::u16string& pins, std::u16string& bad);

}  // namespace stub
