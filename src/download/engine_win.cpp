#include "download/engine_win.h"

#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <utility>
#include <vector>

#include "base/shell_win.h"
#include "base/handle_win.h"
#include "base/lock_win.h"
#include "base/system_dll_win.h"
#include "base/two_owners_win.h"
#include "net/redirect.h"

namespace stub {
namespace {

constexpr UINT kProgressMessage = WM_APP + 1;
constexpr UINT_PTR kStallTimer = 1;
constexpr wchar_t kNotifyClass[] = L"KorvelTransferNotify";

struct Progress {
  int32_t lMax, lProgress, lStatusCode;
};

// Shared by the window's thread and the transfer's worker thread, so that a
// worker abandoned after a failed abort never touches freed memory.
struct Transfer : TwoOwners<Transfer> {
  std::u16string url, path;
  bool refused = false;          // a redirect was refused (worker only until done)
  DWORD stallMs = 0;
  HRESULT result = E_FAIL;
  UniqueHandle done;             // set when the worker has left
  UniqueHandle stop;             // set when the transfer has returned: the watchdog ends
  CriticalSection lock;
  std::vector<Progress> queue;   // notifications with a known total, in order
  IBinding* binding = nullptr;   // from OnStartBinding until the worker lets it go
  DWORD lastActivity = 0;        // tick of the last notification of any kind
  bool abortRequested = false;
  DWORD abortedAt = 0;           // tick of the stall abort, once abortRequested
  HWND notify = nullptr;         // message-only window on the window's thread
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
    bool abort;
    {
      Lock hold(t_->lock);
      if (binding) binding->AddRef();
      t_->binding = binding;
      t_->lastActivity = GetTickCount();
      abort = t_->abortRequested;
    }
    if (abort && binding) binding->Abort();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override {
    if (priority) *priority = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG max, ULONG status, LPCWSTR text) override {
    if (!t_->refused && !Allowed(status, text)) t_->refused = true;
    HWND notify;
    {
      Lock hold(t_->lock);
      t_->lastActivity = GetTickCount();
      // Only notifications with a known total reach the window.
      if (static_cast<LONG>(max) > 0 && !t_->refused)
        t_->queue.push_back({static_cast<int32_t>(max), static_cast<int32_t>(progress),
                             static_cast<int32_t>(status)});
      notify = t_->notify;
    }
    // Handed to the window's thread as a message; a modal loop running there
    // leaves it queued until it ends.
    PostMessageW(notify, kProgressMessage, 0, 0);
    // E_ABORT from a callback ends the download: the transfer fails.
    return t_->refused ? E_ABORT : S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
    // The binding is let go by the worker once the watchdog has ended, so
    // that its last release happens there.
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
  // Measured under Wine 8: its URL download follows redirects inside the
  // HTTP library and never reports one, follows a redirect loop for ever
  // (each hop shows as finding the host and connecting again), and does not
  // follow a redirect to file: or ftp:, saving the redirect's body as the
  // download with the redirect's status. The URL moniker documentation has
  // every redirect reported (BINDSTATUS_REDIRECTING) before it is followed.
  //
  // Whether the transfer may go on after this notification. A redirect is
  // judged before it is followed, against the address the transfer began at:
  // one that began over TLS stays on it, and every one stays on the web.
  // Where the system follows redirects without a word, each shows only as
  // one more connection, and the address the data comes from is judged as
  // the data begins, before any of it is saved.
  bool Allowed(ULONG status, LPCWSTR text) {
    switch (status) {
      case BINDSTATUS_REDIRECTING:  // the status text is the new address in full
        return ++redirects_ <= kMaxRedirects &&
               RedirectAllowed(t_->url, text ? reinterpret_cast<const char16_t*>(text) : u"");
      case BINDSTATUS_CONNECTING:
        return ++connections_ <= kMaxRedirects + 1;
      case BINDSTATUS_MIMETYPEAVAILABLE:
      case BINDSTATUS_BEGINDOWNLOADDATA:
        return SourceAllowed();
    }
    return true;
  }

  // Whether the data may come from where it comes from. A redirect status
  // here is one the system did not follow (its target was not a web
  // address): its body is never the installer. What cannot be asked is let
  // through: the redirect reports stay the guard then.
  bool SourceAllowed() {
    IWinInetHttpInfo* info;
    if (!t_->binding ||
        t_->binding->QueryInterface(IID_IWinInetHttpInfo, reinterpret_cast<void**>(&info)) != S_OK)
      return true;
    DWORD code = 0, size = sizeof code;
    wchar_t url[kMaxRedirectUrl + 2] = {};
    DWORD length = sizeof url - sizeof *url;  // a terminating zero stays
    info->QueryInfo(HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr, nullptr);
    const bool allowed = (code < 300 || code >= 400 || code == 304) &&
                         (info->QueryOption(INTERNET_OPTION_URL, url, &length) != S_OK ||
                          RedirectAllowed(t_->url, reinterpret_cast<const char16_t*>(url)));
    info->Release();
    return allowed;
  }

  LONG refs_ = 1;
  Transfer* t_;
  int redirects_ = 0, connections_ = 0;  // seen so far
};

// Aborts a transfer that has reported nothing for the stall time. It runs in
// the worker's apartment, the multithreaded one, where the binding may be
// called from any of its threads: the window's thread never touches it. (A
// window of the worker's own would not do: the synchronous download does not
// dispatch the calling thread's other messages everywhere.)
DWORD WINAPI StallWatchdog(void* param) {
  auto* t = static_cast<Transfer*>(param);
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  while (WaitForSingleObject(t->stop.get(), 250) == WAIT_TIMEOUT) {
    IBinding* binding = nullptr;
    {
      Lock hold(t->lock);
      const DWORD now = GetTickCount();
      if (!t->abortRequested && now - t->lastActivity >= t->stallMs) {
        // Without a binding yet, OnStartBinding aborts as soon as one comes.
        t->abortRequested = true;
        t->abortedAt = now;
        binding = t->binding;
        if (binding) binding->AddRef();
      }
    }
    if (binding) {
      binding->Abort();
      binding->Release();  // never the last: the worker still holds it
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}

DWORD WINAPI TransferThread(void* param) {
  auto* t = static_cast<Transfer*>(param);
  const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  // Without the watchdog a stalled transfer would never end: the transfer is
  // not started and fails (its result stays E_FAIL).
  const UniqueHandle watchdog(CreateThread(nullptr, 0, StallWatchdog, t, 0, nullptr));
  auto* callback = new Callback(t);
  if (watchdog) t->result = Net().URLDownloadToFileW(nullptr, W(t->url), W(t->path), 0, callback);
  SetEvent(t->stop.get());
  if (watchdog) WaitForSingleObject(watchdog.get(), INFINITE);  // it ends within one period
  IBinding* binding;
  {
    Lock hold(t->lock);
    binding = std::exchange(t->binding, nullptr);
  }
  if (binding) binding->Release();  // the last release, here before the apartment goes
  callback->Release();
  if (SUCCEEDED(com)) CoUninitialize();
  SetEvent(t->done.get());
  t->Release();
  return 0;
}

// What the window's thread knows of the transfer it waits for.
struct Waiting {
  Transfer* transfer;
  ProgressSink* sink;
  int modalDepth;  // modal loops already running when the transfer started
  bool draining = false;
  bool abandoned = false;
};

// Hands the queued notifications to the sink in order: the whole queue is
// taken under the lock and delivered outside it. A handler processes window
// messages and may meet the next progress message: the outer call keeps the
// order by handling it, never a nested one.
void Drain(Waiting& w) {
  if (w.draining) return;
  w.draining = true;
  for (;;) {
    std::vector<Progress> batch;
    {
      Lock hold(w.transfer->lock);
      batch.swap(w.transfer->queue);
    }
    if (batch.empty()) break;
    for (const Progress& p : batch) w.sink->OnProgress(p.lMax, p.lProgress, p.lStatusCode);
  }
  w.draining = false;
}

// A transfer that the platform does not let go of within 15 s of its stall
// abort is abandoned.
void CheckStall(Waiting& w) {
  Lock hold(w.transfer->lock);
  if (w.transfer->abortRequested && GetTickCount() - w.transfer->abortedAt > 15000)
    w.abandoned = true;
}

LRESULT CALLBACK NotifyProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* w = reinterpret_cast<Waiting*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (w && msg == kProgressMessage) {
    // Inside a message box or a drag the progress stays queued: handling it
    // pumps messages, which would take the modal loop's keys and mouse. The
    // wait loop catches up when the modal loop has ended.
    if (ModalLoop::Depth() <= w->modalDepth) Drain(*w);
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
    wc.lpszClassName = kNotifyClass;
    registered = RegisterClassW(&wc) != 0;
  }
  // An unregistered class fails here, and the transfer with it.
  return CreateWindowExW(0, kNotifyClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         instance, nullptr);
}

}  // namespace

TransferEnd URLDownFile::DownloadFile(const std::u16string& url, const std::u16string& path,
                                      ProgressSink& sink) {
  const HWND notify = CreateNotifyWindow();
  if (!notify) return TransferEnd::Failed;
  auto* t = new Transfer;
  t->url = url;
  t->path = path;
  t->notify = notify;
  t->done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  t->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  t->stallMs = static_cast<DWORD>(stallSeconds_) * 1000;
  t->lastActivity = GetTickCount();
  Waiting w{t, &sink, ModalLoop::Depth()};
  SetWindowLongPtrW(notify, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&w));
  // The timer is what abandons a worker the platform does not let go of.
  const bool timer = SetTimer(notify, kStallTimer, 500, nullptr) != 0;

  // The worker needs both events and the timer: without them it is not
  // started and the transfer fails at once.
  const bool ready = timer && t->done && t->stop;
  const UniqueHandle thread(ready ? CreateThread(nullptr, 0, TransferThread, t, 0, nullptr)
                                  : nullptr);
  if (thread) {
    HANDLE done = t->done.get();
    while (!w.abandoned && WaitForSingleObject(done, 0) != WAIT_OBJECT_0) {
      MsgWaitForMultipleObjectsEx(1, &done, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      PumpWindowMessages();
      if (ModalLoop::Depth() <= w.modalDepth) Drain(w);  // what a modal loop left queued
    }
    Drain(w);  // whatever arrived just before the end
  } else {
    t->Release();  // the worker's share: it never started
  }
  bool aborted;
  {
    Lock hold(t->lock);
    aborted = t->abortRequested;
  }
  // The worker has left (or was abandoned, and then `refused` is not read).
  const TransferEnd end = !w.abandoned && t->refused ? TransferEnd::Refused
                          : w.abandoned || aborted ? TransferEnd::Aborted
                          : thread && t->result == S_OK ? TransferEnd::Completed
                                                        : TransferEnd::Failed;
  // Late messages from an abandoned worker find no window and go nowhere.
  SetWindowLongPtrW(notify, GWLP_USERDATA, 0);
  DestroyWindow(notify);
  {
    Lock hold(t->lock);
    t->notify = nullptr;
  }
  t->Release();
  return end;
}

}  // namespace stub
