// The download window: a borderless face with the product title, a progress
// bar, a status line, minimise and close zones and the browser button. It
// draws its own controls and hands their clicks to the download controller.
#pragma once

#include <windows.h>

#include <string>

#include "base/run_state.h"
#include "base/gdi_win.h"
#include "base/shell_win.h"
#include "download/ports.h"

namespace stub {

class DownloadController;

// A rectangle given as left, top, width and height in twips.
struct TwipsBox {
  int left, top, width, height;
};

class DownloadWindow final : public DownloadView {
 public:
  // `end` ends the program when the system asks either window to close.
  explicit DownloadWindow(EndProgram end) : end_(end) {}
  ~DownloadWindow() override;
  DownloadWindow(const DownloadWindow&) = delete;
  DownloadWindow& operator=(const DownloadWindow&) = delete;

  // Creates the hidden application window and, owned by it, the download
  // window (not shown yet). False when the platform refused.
  bool Create();
  void SetController(DownloadController* controller) { controller_ = controller; }

  // Lays the window out and starts the one-shot start timer. Returns the
  // description of the last step that failed, empty when none did.
  std::u16string Form_Load1(const RunState& s);
  // Shows the window in the centre of the screen.
  bool Show();
  void Destroy();

  HWND hwnd() const { return wnd_; }

  // DownloadView
  float FullWidth() override { return kBarTwips; }
  void SetFillWidth(float twips) override;
  void SetStatus(const std::u16string& text) override;
  void ShowBrowserButton() override;
  void Hide() override;
  void ShowMessage(const std::u16string& text, const std::u16string& title) override;

  // Control rectangles in twips, as laid out on the face.
  static constexpr float kBarTwips = 7470;

 private:
  enum class Zone { None, Surface, Label, Minimise, Close, Browser };

  static LRESULT CALLBACK AppProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnClose();
  LRESULT OnEndSession(WPARAM ending);
  void OnPaint();
  void Draw(HDC target, HDC screen, const RECT& client);
  void OnButtonDown(int x, int y);
  void OnButtonUp(int x, int y);
  void OnTimer(UINT_PTR id);
  Zone HitTest(int x, int y) const;
  RECT Twips(int left, int top, int width, int height) const;
  RECT Twips(const TwipsBox& box) const;
  int Px(float twips) const { return static_cast<int>(twips * dpi_ / 1440.0f + 0.5f); }
  void InvalidateTwips(int left, int top, int width, int height);

  EndProgram end_;
  HWND app_ = nullptr, wnd_ = nullptr;
  int dpi_ = 96;
  UniqueBitmap face_;
  UniqueFont titleFont_, statusFont_, buttonFont_;
  DownloadController* controller_ = nullptr;
  std::u16string title_, status_;
  float fillTwips_ = 0;
  bool titleVisible_ = false, browserVisible_ = false;
  int titleLeftTwips_ = 1335;
  Zone pressed_ = Zone::None;
};

}  // namespace stub
