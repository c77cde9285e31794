#include "download/engine_win.h"

#include <windows.h>
#include <urlmon.h>

#include <vector>

#include "app/app_win.h"

namespace stub {
namespace {

constexpr UINT kProgressMessage = WM_APP + 1;
constexpr UINT_PTR kStallTimer = 1;

struct Progress {
  int32_t lMax, lProgress, lStatusCode;
};

// State shared by the window's thread and the transfer's worker thread. The
// last of the two to let go frees it, so a worker abandoned after a failed
// abort never touches freed memory.
struct Transfer {
  LONG refs = 2;
  std::u16string url, path;
  HRESULT result = E_FAIL;
  HANDLE done = nullptr;
  CRITICAL_SECTION lock;
  std::vector<Progress> queue;   // notifications with a known total, in order
  IBinding* binding = nullptr;   // held between OnStartBinding and OnStopBinding
  DWORD lastActivity = 0;        // tick of the last notification of any kind
  bool abortRequested = false;
  HWND notify = nullptr;         // message-only window on the window's thread

  Transfer() { InitializeCriticalSection(&lock); }
  ~Transfer() {
    DeleteCriticalSection(&lock);
    if (done) CloseHandle(done);
  }
  void Release() {
    if (InterlockedDecrement(&refs) == 0) delete this;
  }
};

// The binding-status callback: every method answers S_OK; progress with a
// total above 0 is queued for the window's thread.
class Callback final : public IBindStatusCallback {
 public:
  explicit Callback(Transfer* t) : t_(t) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
      *out = static_cast<IBindStatusCallback*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }

  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
    // Kept only so that a stalled transfer can be aborted.
    EnterCriticalSection(&t_->lock);
    if (binding) binding->AddRef();
    t_->binding = binding;
    t_->lastActivity = GetTickCount();
    const bool abort = t_->abortRequested;
    LeaveCriticalSection(&t_->lock);
    if (abort && binding) binding->Abort();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override {
    if (priority) *priority = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG max, ULONG status, LPCWSTR) override {
    EnterCriticalSection(&t_->lock);
    t_->lastActivity = GetTickCount();
    // Only notifications with a known total reach the window.
    if (static_cast<LONG>(max) > 0)
      t_->queue.push_back({static_cast<int32_t>(max), static_cast<int32_t>(progress),
                           static_cast<int32_t>(status)});
    const HWND notify = t_->notify;
    LeaveCriticalSection(&t_->lock);
    // Handed to the window's thread as a message, so that even a modal loop
    // running there (a message box) handles the transfer's progress.
    PostMessageW(notify, kProgressMessage, 0, 0);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
    EnterCriticalSection(&t_->lock);
    IBinding* binding = t_->binding;
    t_->binding = nullptr;
    LeaveCriticalSection(&t_->lock);
    if (binding) binding->Release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override {
    // Straight to the file: no second copy of the installer in the cache.
    if (flags) *flags |= BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  LONG refs_ = 1;
  Transfer* t_;
};

DWORD WINAPI TransferThread(void* param) {
  auto* t = static_cast<Transfer*>(param);
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  auto* callback = new Callback(t);
  t->result = URLDownloadToFileW(nullptr, W(t->url), W(t->path), 0, callback);
  callback->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  SetEvent(t->done);
  t->Release();
  return 0;
}

// What the window's thread knows of the transfer it waits for.
struct Waiting {
  Transfer* transfer;
  ProgressSink* sink;
  DWORD stallMs;
  DWORD abortedAt = 0;
  bool draining = false;
  bool abandoned = false;
};

void RequestAbort(Transfer* t) {
  EnterCriticalSection(&t->lock);
  t->abortRequested = true;
  IBinding* binding = t->binding;
  if (binding) binding->AddRef();
  LeaveCriticalSection(&t->lock);
  if (binding) {
    binding->Abort();
    binding->Release();
  }
}

// Hands the queued notifications to the sink in order. A handler processes
// window messages and may meet the next progress message: the outer call
// keeps the order by handling it, never a nested one.
void Drain(Waiting& w) {
  if (w.draining) return;
  w.draining = true;
  for (;;) {
    EnterCriticalSection(&w.transfer->lock);
    if (w.transfer->queue.empty()) {
      LeaveCriticalSection(&w.transfer->lock);
      break;
    }
    const Progress p = w.transfer->queue.front();
    w.transfer->queue.erase(w.transfer->queue.begin());
    LeaveCriticalSection(&w.transfer->lock);
    w.sink->OnProgress(p.lMax, p.lProgress, p.lStatusCode);
  }
  w.draining = false;
}

// A transfer without any notification for the stall time is aborted; if the
// platform does not let go of it within 15 s more, it is abandoned.
void CheckStall(Waiting& w) {
  const DWORD now = GetTickCount();
  if (!w.abortedAt) {
    EnterCriticalSection(&w.transfer->lock);
    const DWORD idle = now - w.transfer->lastActivity;
    LeaveCriticalSection(&w.transfer->lock);
    if (idle >= w.stallMs) {
      RequestAbort(w.transfer);
      w.abortedAt = now | 1;
    }
  } else if (now - w.abortedAt > 15000) {
    w.abandoned = true;
  }
}

LRESULT CALLBACK NotifyProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* w = reinterpret_cast<Waiting*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (w && msg == kProgressMessage) {
    Drain(*w);
    return 0;
  }
  if (w && msg == WM_TIMER && wp == kStallTimer) {
    CheckStall(*w);
    return 0;
  }
  return DefWindowProcW(wnd, msg, wp, lp);
}

HWND CreateNotifyWindow() {
  static bool registered = false;
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!registered) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = NotifyProc;
    wc.hInstance = instance;
    wc.lpszClassName = L"KorvelTransferNotify";
    registered = RegisterClassW(&wc) != 0;
  }
  return CreateWindowExW(0, L"KorvelTransferNotify", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         instance, nullptr);
}

}  // namespace

bool URLDownFile::DownloadFile(const std::u16string& url, const std::u16string& path,
                               ProgressSink& sink) {
  const HWND notify = CreateNotifyWindow();
  if (!notify) return false;
  auto* t = new Transfer;
  t->url = url;
  t->path = path;
  t->notify = notify;
  t->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  t->lastActivity = GetTickCount();
  Waiting w{t, &sink, static_cast<DWORD>(stallSeconds_) * 1000};
  SetWindowLongPtrW(notify, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&w));
  SetTimer(notify, kStallTimer, 500, nullptr);

  HANDLE thread = t->done ? CreateThread(nullptr, 0, TransferThread, t, 0, nullptr) : nullptr;
  if (thread) {
    CloseHandle(thread);
    while (!w.abandoned && WaitForSingleObject(t->done, 0) != WAIT_OBJECT_0) {
      MsgWaitForMultipleObjectsEx(1, &t->done, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      PumpWindowMessages();
    }
    Drain(w);  // whatever arrived just before the end
  } else {
    t->Release();  // the worker's share: it never started
  }
  const bool ok = !w.abandoned && thread && t->result == S_OK;
  // Late messages from an abandoned worker find no window and go nowhere.
  SetWindowLongPtrW(notify, GWLP_USERDATA, 0);
  DestroyWindow(notify);
  EnterCriticalSection(&t->lock);
  t->notify = nullptr;
  LeaveCriticalSection(&t->lock);
  t->Release();
  return ok;
}

}  // namespace stub
