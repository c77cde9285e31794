// Benchmark program run under Wine by the benchmark scripts: times one URL
// download through the stub's engine or through the plain platform call, and
// shows a minimal window as the reference for start-up time and memory.
//
//   engine-bench engine URL FILE     the stub's engine (URLDownFile) with the real
//                                    DownloadController::OnProgress as its sink,
//                                    drawing into a view that does nothing
//   engine-bench bare URL FILE       URLDownloadToFileW without a callback
//   engine-bench flags URL FILE      URLDownloadToFileW with a callback that only
//                                    sets the engine's no-cache flags
//   engine-bench window TITLE SECONDS
//                                    shows a plain window with that title for
//                                    SECONDS, then ends (reference program)
//
// A download prints "seconds=S bytes=N result=0xHRESULT" and, for the engine,
// "progress=CALLS downcode=CODES" on stdout; exit code 0 when the call
// succeeded and the file has content.
#include <windows.h>
#include <objbase.h>
#include <urlmon.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "app/app_win.h"
#include "base/run_state.h"
#include "base/system_dll_win.h"
#include "download/controller.h"
#include "download/engine_win.h"
#include "download/platform_win.h"


namespace {

std::u16string U16(const wchar_t* s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s));
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

long long FileBytes(const wchar_t* path) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &a)) return -1;
  return (static_cast<long long>(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
}

// The download window's controls, as far as the progress handling touches
// them: it reads the bar's full width and sets the fill and the status text.
class NullView final : public stub::DownloadView {
 public:
  float FullWidth() override { return 6180; }  // the bar's width in twips
  void SetFillWidth(float twips) override { fill_ = twips; }
  void SetStatus(const std::u16string& text) override { status_ = text; }
  void ShowBrowserButton() override {}
  void Hide() override {}
  void ShowMessage(const std::u16string&, const std::u16string&) override {}

 private:
  float fill_ = 0;
  std::u16string status_;
};

class NullShell final : public stub::Shell {
 public:
  void Open(const std::u16string&) override {}
  bool Launch(const std::u16string&, stub::LaunchAs) override { return true; }
  bool WindowExists(const std::u16string&) override { return false; }
  std::u16string AppPath() override { return u""; }
  void SendReport(const std::u16string&, const std::u16string&) override {}
  std::u16string DecimalSeparator() override { return u"."; }
  void CloseAll() override {}
};

// Counts the notifications that reach the controller, then passes them on.
class CountingEngine final : public stub::DownloadEngine, private stub::ProgressSink {
 public:
  explicit CountingEngine(stub::DownloadEngine& inner) : inner_(inner) {}
  stub::TransferEnd DownloadFile(const std::u16string& url, const std::u16string& path,
                                 stub::ProgressSink& sink) override {
    target_ = &sink;
    const stub::TransferEnd end = inner_.DownloadFile(url, path, *this);
    ok = end == stub::TransferEnd::Completed;
    return end;
  }
  long calls = 0;
  bool ok = false;

 private:
  void OnProgress(int32_t lMax, int32_t lProgress, int32_t lStatusCode) override {
    ++calls;
    target_->OnProgress(lMax, lProgress, lStatusCode);
  }
  stub::DownloadEngine& inner_;
  stub::ProgressSink* target_ = nullptr;
};

int Engine(const wchar_t* url, const wchar_t* path) {
  stub::RunState state;
  stub::WinClock clock;
  stub::WinWaiter waiter;
  stub::WinFileSystem files;
  stub::URLDownFile engine(60);
  CountingEngine counting(engine);
  NullView view;
  NullShell shell;
  stub::DownloadController controller(state, clock, waiter, files, counting, view, shell);
  const double start = Now();
  controller.StartDownFile(U16(url), U16(path));
  const double seconds = Now() - start;
  const long long bytes = FileBytes(path);
  std::printf("seconds=%.4f bytes=%lld result=0x%08lx\n", seconds, bytes,
              counting.ok ? 0ul : 0x80004005ul);
  std::string code;
  for (char16_t c : controller.DownCode) code.push_back(static_cast<char>(c));
  std::printf("progress=%ld downcode=%s\n", counting.calls, code.c_str());
  return counting.ok && bytes > 0 ? 0 : 1;
}

// Only what the engine's callback asks of the platform: no cache copy.
class FlagsCallback final : public IBindStatusCallback {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
      *out = static_cast<IBindStatusCallback*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG* p) override {
    if (p) *p = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override {
    if (flags) *flags |= BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
};

int Bare(const wchar_t* url, const wchar_t* path, bool flags) {
  FlagsCallback callback;
  const double start = Now();
  const HRESULT hr = URLDownloadToFileW(nullptr, url, path, 0, flags ? &callback : nullptr);
  const double seconds = Now() - start;
  const long long bytes = FileBytes(path);
  std::printf("seconds=%.4f bytes=%lld result=0x%08lx\n", seconds, bytes,
              static_cast<unsigned long>(hr));
  return hr == S_OK && bytes > 0 ? 0 : 1;
}

LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(wnd, msg, wp, lp);
}

int Window(const wchar_t* title, int seconds) {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"EngineBenchWindow";
  if (!RegisterClassW(&wc)) return 1;
  HWND wnd = CreateWindowExW(0, wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 100, 100, 412, 250,
                             nullptr, nullptr, wc.hInstance, nullptr);
  if (!wnd) return 1;
  ShowWindow(wnd, SW_SHOWNORMAL);
  UpdateWindow(wnd);
  SetTimer(wnd, 1, static_cast<UINT>(seconds) * 1000, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == wnd) DestroyWindow(wnd);
    DispatchMessageW(&msg);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  if (argc < 4) {
    std::fprintf(stderr, "usage: engine-bench engine|bare|flags URL FILE | window TITLE SECONDS\n");
    return 2;
  }
  const wchar_t* mode = argv[1];
  // As in the stub: the libraries from the system folder, COM on the calling
  // thread for the URL download.
  if (!stub::LoadNetLibraries()) return 2;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int code = 2;
  if (!wcscmp(mode, L"engine")) code = Engine(argv[2], argv[3]);
  else if (!wcscmp(mode, L"bare")) code = Bare(argv[2], argv[3], false);
  else if (!wcscmp(mode, L"flags")) code = Bare(argv[2], argv[3], true);
  else if (!wcscmp(mode, L"window")) code = Window(argv[2], _wtoi(argv[3]));
  std::fflush(stdout);
  return code;
}
