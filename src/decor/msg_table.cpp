#include "decor/msg_table.h"

namespace stub {
namespace {

// The number of entries in use, bounded by the array whatever `count` holds.
int InUse(const MsgTable& table) {
  if (table.count <= 0) return 0;
  return table.count < MSG_ENTRIES ? table.count : MSG_ENTRIES;
}

}  // namespace

bool MsgTable::Selects(uint32_t msg) const {
  if (count < 0) return true;
  // 0 marks a freed slot; it must not make the table select WM_NULL.
  if (msg == 0) return false;
  const int n = InUse(*this);
  for (int i = 0; i < n; ++i)
    if (entries[i] == msg) return true;
  return false;
}

void zAddMsg(MsgTable& table, uint32_t message, Reporter& reporter) {
  if (message == kAllMessages) {
    table.count = ALL_MESSAGES;
    return;
  }
  // Checked before anything else: a full table refuses even a message it
  // already holds or that a freed slot could take.
  if (table.count >= MSG_ENTRIES) {
    reporter.Report(kRoutineAddMsg, kTableOverflow);
    return;
  }
  // 0 is the freed-slot marker and cannot be told apart from one; watching
  // WM_NULL alone is not supported (ALL_MESSAGES includes it).
  if (message == 0) return;
  const int n = InUse(table);
  for (int i = 0; i < n; ++i) {
    if (table.entries[i] == 0) {
      table.entries[i] = message;
      return;
    }
    if (table.entries[i] == message) return;
  }
  // Appended after the entries in use. An every-message table (count < 0)
  // becomes a table holding only this message.
  table.entries[n] = message;
  table.count = n + 1;
}

void zDelMsg(MsgTable& table, uint32_t message, Reporter& reporter) {
  if (message == kAllMessages) {
    table.count = 0;
    return;
  }
  if (message != 0) {
    const int n = InUse(table);
    for (int i = 0; i < n; ++i) {
      if (table.entries[i] == message) {
        table.entries[i] = 0;  // the slot is freed; the count stays
        return;
      }
    }
  }
  reporter.Report(kRoutineDelMsg, MessageNotFoundText(message));
}

void WatchMessage(MsgTable& before, MsgTable& after, uint32_t message, uint32_t when,
                  Reporter& reporter) {
  if (when & WHEN_BEFORE) zAddMsg(before, message, reporter);
  if (when & WHEN_AFTER) zAddMsg(after, message, reporter);
}

void UnwatchMessage(MsgTable& before, MsgTable& after, uint32_t message, uint32_t when,
                    Reporter& reporter) {
  if (when & WHEN_BEFORE) zDelMsg(before, message, reporter);
  if (when & WHEN_AFTER) zDelMsg(after, message, reporter);
}

}  // namespace stub
