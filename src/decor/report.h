// The window decoration's error reports: one reporter interface that the
// subclassing engine and the shadow call, the fixed texts they report, and the
// texts a report becomes in the event log and in the message box. Nothing is
// ever raised; the reporting operation returns its failure value afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace stub {

// Implemented by the Windows shell (event log entry, then a modal message box
// with an exclamation icon) and by recording fakes in the tests.
class Reporter {
 public:
  virtual void Report(std::u16string_view routine, std::u16string_view message) = 0;

 protected:
  ~Reporter() = default;
};

// Routines that report.
inline constexpr char16_t kRoutineSubclass[] = u"sc_Subclass";
inline constexpr char16_t kRoutineUnSubclass[] = u"sc_UnSubclass";
inline constexpr char16_t kRoutineMapWindow[] = u"zMap_hWnd";
inline constexpr char16_t kRoutineAddMsg[] = u"zAddMsg";
inline constexpr char16_t kRoutineDelMsg[] = u"zDelMsg";
inline constexpr char16_t kRoutineShadow[] = u"Shadow";

// Fixed messages. The two "error" texts are followed by the system's error
// code in decimal (DecimalText in app/text.h).
inline constexpr char16_t kInvalidWindow[] = u"Invalid window handle";
inline constexpr char16_t kOtherProcess[] = u"Window handle belongs to another process";
inline constexpr char16_t kCallbackNotFound[] = u"Callback method not found";
inline constexpr char16_t kAllocFailed[] = u"VirtualAlloc failed, error: ";
inline constexpr char16_t kAlreadySubclassed[] = u"Window handle is already subclassed";
inline constexpr char16_t kSetWindowLongFailed[] = u"SetWindowLong failed, error #";
inline constexpr char16_t kNotSubclassed[] = u"Window handle isn't subclassed";
inline constexpr char16_t kNotStarted[] = u"Subclassing hasn't been started";
inline constexpr char16_t kTableOverflow[] =
    u"Message table overflow. Either increase the value of Const MSG_ENTRIES or use "
    u"ALL_MESSAGES instead of specific message values";
inline constexpr char16_t kSingleForm[] = u"Only a single form per cShadow instance is allowed";

// "Message &H<hex> not found in table", hex in upper case without leading zeros.
std::u16string MessageNotFoundText(uint32_t message);

// Event log entry: "aShadow.<routine>: <message>".
std::u16string ReportLogText(std::u16string_view routine, std::u16string_view message);
// Message box text: "<message>."
std::u16string ReportBoxText(std::u16string_view message);
// Message box title: "Error in aShadow.<routine>".
std::u16string ReportBoxTitle(std::u16string_view routine);

}  // namespace stub
