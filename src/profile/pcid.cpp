#include "profile/pcid.h"

#include "base/text.h"

namespace stub {
namespace {

constexpr size_t kIdLength = 12;
constexpr size_t kSerialOffset = 20;  // within the identify record
constexpr size_t kSerialSize = 20;

std::u16string_view TrimSpaces(std::u16string_view s) {
  while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == u' ') s.remove_suffix(1);
  return s;
}

// Decimal code of one unit, at least two digits; units from U+8000 up are
// read as signed 16-bit and so come out negative ("-240" for U+FF10).
void AppendUnitCode(std::u16string& out, char16_t c) {
  int32_t code = c >= 0x8000 ? int32_t{c} - 0x10000 : int32_t{c};
  if (code < 0) {
    out.push_back(u'-');
    code = -code;
  }
  if (code < 10) out.push_back(u'0');
  out.append(DecimalText(code));
}

}  // namespace

std::u16string StripBlanks(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c == 0x0A || c == 0x0D || c == 0x00 || c == 0x20 || c == 0xE4C6 || c == 0x3000) continue;
    out.push_back(c);
  }
  return out;
}

std::u16string IdToDigits(std::u16string_view text) {
  std::u16string t = ToUpper(TrimSpaces(text));
  if (t.size() > kIdLength) {
    t = t.substr(0, 2) + t.substr(t.size() - (kIdLength - 2));
  } else {
    t.resize(kIdLength, u'0');
  }
  std::u16string out;
  out.reserve(kIdLength * 3);
  for (char16_t c : t) AppendUnitCode(out, c);
  return out;
}

std::u16string DiskIdFromSerials(const std::u16string (&serials)[4]) {
  std::u16string id;
  for (const std::u16string& serial : serials) {
    const std::u16string s = StripBlanks(serial);
    if (s.empty()) continue;
    if (!id.empty()) id.push_back(u'#');
    id.push_back(u'D');
    id.append(IdToDigits(s));
  }
  return id;
}

std::u16string CpuIdFromProcessorId(std::u16string_view processorId) {
  const std::u16string id = StripBlanks(TrimSpaces(processorId));
  if (id.empty()) return {};
  return u"C" + IdToDigits(id);
}

std::array<uint8_t, 24> SmartVersionOutBlock() { return {}; }

uint8_t SmartDriveHead(uint8_t drive) { return static_cast<uint8_t>(0xA0 | ((drive & 1) << 4)); }

uint8_t SmartIdentifyCommand(uint8_t drive, uint8_t ideDeviceMap) {
  const unsigned shifted = drive < 8 ? unsigned{ideDeviceMap} >> drive : 0;
  return (shifted & 0x10) ? 0xA1 : 0xEC;
}

// SENDCMDINPARAMS: cBufferSize (4 bytes, little-endian), then IDEREGS
// (features, sector count, sector number, cylinder low, cylinder high,
// drive/head, command, reserved), then bDriveNumber; the rest stays zero.
std::array<uint8_t, 36> SmartEnableInBlock(uint8_t drive) {
  std::array<uint8_t, 36> b{};
  b[4] = 0xD8;  // SMART ENABLE OPERATIONS
  b[5] = 1;
  b[6] = 1;
  b[7] = 0x4F;  // the SMART signature in the cylinder registers
  b[8] = 0xC2;
  b[9] = SmartDriveHead(drive);
  b[10] = 0xB0;  // SMART
  b[12] = drive;
  return b;
}

std::array<uint8_t, 36> SmartIdentifyInBlock(uint8_t drive, uint8_t ideDeviceMap) {
  std::array<uint8_t, 36> b{};
  b[0] = 0x00;  // cBufferSize = 512
  b[1] = 0x02;
  b[5] = 1;
  b[6] = 1;
  b[9] = SmartDriveHead(drive);
  b[10] = SmartIdentifyCommand(drive, ideDeviceMap);
  b[12] = drive;
  return b;
}

std::u16string SerialFromIdentify(const uint8_t* output, size_t size, CharsetDecoder decoder) {
  if (output == nullptr || size < kIdentifyRecordOffset + kIdentifyRecordSize) return {};
  const uint8_t* field = output + kIdentifyRecordOffset + kSerialOffset;
  char bytes[kSerialSize];
  for (size_t i = 0; i < kSerialSize; i += 2) {
    bytes[i] = static_cast<char>(field[i + 1]);
    bytes[i + 1] = static_cast<char>(field[i]);
  }
  const std::string_view raw(bytes, kSerialSize);
  std::u16string text;
  if (decoder == nullptr || !decoder({}, raw, text)) text = Widen(raw);
  return std::u16string(TrimSpaces(text));
}

}  // namespace stub
