// The subclassing engine's message tables: which window messages a watcher
// sees before the window's own procedure runs, and which after it.
#pragma once

#include <cstdint>

#include "decor/report.h"

namespace stub {

// As a message number or as a table's count: every message.
constexpr int32_t ALL_MESSAGES = -1;
constexpr int MSG_ENTRIES = 32;
// Which table(s) an operation applies to; 3 means both.
constexpr uint32_t WHEN_BEFORE = 1, WHEN_AFTER = 2;

// count < 0: every message. count 0: none. count 1..MSG_ENTRIES: the first
// count entries are in use, and an entry of 0 is a freed slot for reuse.
struct MsgTable {
  int32_t count = 0;
  uint32_t entries[MSG_ENTRIES] = {};

  bool Selects(uint32_t msg) const;
};

// Message numbers are 32-bit; ALL_MESSAGES converts to 0xFFFFFFFF, which is
// what both operations take as "every message".
constexpr uint32_t kAllMessages = static_cast<uint32_t>(ALL_MESSAGES);

// Adds a message (or ALL_MESSAGES) to the table; a full table reports the
// overflow through `reporter` and is unchanged. Message 0 is ignored.
void zAddMsg(MsgTable& table, uint32_t message, Reporter& reporter);

// Removes a message (ALL_MESSAGES: empties the table); a message the table
// does not hold, or any single message on an every-message table, is reported
// and the table is unchanged.
void zDelMsg(MsgTable& table, uint32_t message, Reporter& reporter);

// sc_WatchMessage / sc_UnwatchMessage on a pair of tables by `When` bits.
void WatchMessage(MsgTable& before, MsgTable& after, uint32_t message, uint32_t when,
                  Reporter& reporter);
void UnwatchMessage(MsgTable& before, MsgTable& after, uint32_t message, uint32_t when,
                    Reporter& reporter);

}  // namespace stub
