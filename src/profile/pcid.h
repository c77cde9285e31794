// The machine identifier: its text rules and the SMART driver blocks through
// which the disk serial numbers are read. The platform calls live in the
// Windows shell; everything that decides bytes or text is here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"  // CharsetDecoder

namespace stub {

// The text without line feeds, carriage returns, zero characters, spaces,
// U+E4C6 and ideographic spaces (U+3000). Tabs and everything else stay.
std::u16string StripBlanks(std::u16string_view text);

// Upper-cased and trimmed of spaces, cut to its first 2 and last 10 units
// (or filled with "0" to 12), each unit written in decimal with at least two
// digits; units >= U+8000 are written as negative signed 16-bit codes.
std::u16string IdToDigits(std::u16string_view text);

// The disk form from the serial texts of drives 0..3 (as read, possibly
// empty): "D" + IdToDigits for each drive with a serial, joined by "#".
std::u16string DiskIdFromSerials(const std::u16string (&serials)[4]);

// The processor form from the last ProcessorId read (may be empty):
// "C" + IdToDigits(StripBlanks(trimmed)), or "" when nothing is left.
std::u16string CpuIdFromProcessorId(std::u16string_view processorId);

// SMART driver interface: control codes and block sizes passed to the driver.
inline constexpr uint32_t kSmartGetVersion = 0x74080;
inline constexpr uint32_t kSmartSendDriveCommand = 0x7C084;
inline constexpr uint32_t kSmartRcvDriveData = 0x7C088;
inline constexpr size_t kSmartVersionOutSize = 24;
inline constexpr size_t kSmartIdeDeviceMapOffset = 3;
inline constexpr size_t kSmartEnableInSize = 35;
inline constexpr size_t kSmartEnableOutSize = 19;
inline constexpr size_t kSmartIdentifyInSize = 32;
inline constexpr size_t kSmartIdentifyOutSize = 528;  // offered to the driver
inline constexpr size_t kSmartIdentifyOutBuffer = 532;
inline constexpr size_t kIdentifyRecordOffset = 16;  // in the identify output
inline constexpr size_t kIdentifyRecordSize = 256;

// Zeroed GETVERSIONINPARAMS (bIDEDeviceMap at byte 3).
std::array<uint8_t, 24> SmartVersionOutBlock();
// SENDCMDINPARAMS for SMART ENABLE OPERATIONS; 35 of its 36 bytes are passed.
std::array<uint8_t, 36> SmartEnableInBlock(uint8_t drive);
// SENDCMDINPARAMS for the identify command; 32 bytes are passed.
std::array<uint8_t, 36> SmartIdentifyInBlock(uint8_t drive, uint8_t ideDeviceMap);
// 0xA0 | 16 * (drive & 1).
uint8_t SmartDriveHead(uint8_t drive);
// 0xA1 (IDENTIFY PACKET DEVICE) when bit 4 of (map >> drive) is set, else 0xEC.
uint8_t SmartIdentifyCommand(uint8_t drive, uint8_t ideDeviceMap);

// The serial text from an identify output buffer (bytes 16..271 hold the
// identify record, whose bytes 20..39 are the serial field, byte-swapped per
// word). The 20 bytes go through `decoder` with the ANSI code page (Latin-1
// when it is null or fails), then leading and trailing spaces are trimmed.
// A buffer shorter than 272 bytes gives "".
std::u16string SerialFromIdentify(const uint8_t* output, size_t size, CharsetDecoder decoder);

}  // namespace stub
