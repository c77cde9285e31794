// A critical section and the guard that holds it for one scope; neither can
// be copied.
#pragma once

#include <windows.h>

namespace stub {

// A critical section that lives as long as its owner.
class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&cs_); }
  ~CriticalSection() { DeleteCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  CRITICAL_SECTION* get() { return &cs_; }

 private:
  CRITICAL_SECTION cs_;
};

// Holds a critical section for one scope.
class Lock {
 public:
  explicit Lock(CriticalSection& cs) : cs_(cs.get()) { EnterCriticalSection(cs_); }
  explicit Lock(CRITICAL_SECTION* cs) : cs_(cs) { EnterCriticalSection(cs_); }
  ~Lock() { LeaveCriticalSection(cs_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION* cs_;
};

}  // namespace stub
