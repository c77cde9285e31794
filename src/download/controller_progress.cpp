// The download's progress reports: the bar, the speed line and the trail of
// status codes that the reports carry.
#include <cmath>

#include "download/controller.h"
#include "download/services.h"
#include "download/texts.h"

namespace stub {

// Runs on the window's thread inside the blocking download, so it is also
// where the window gets its messages processed during a transfer.
void DownloadController::OnProgress(int32_t lMax, int32_t lProgress, int32_t lStatusCode) {
  // Without a known total there is nothing to show or to list.
  if (Ended() || lMax <= 0) return;
  waiter_.PumpMessages();
  if (Ended()) return;
  waiter_.PumpMessages();
  if (Ended()) return;

  DownCount = lProgress;
  // The percent is not clamped above: a transfer may outgrow its announced size.
  const double percent = std::floor(static_cast<double>(lProgress) / lMax * 100);
  // Scaled as full * percent / 100 so that 100 % is exactly the full width.
  const double full = view_.FullWidth();
  double fill = full * percent / 100;
  if (fill < 0) fill = 0;  // a negative count cannot make a negative width
  // An overfilled bar looks full: the fill never outgrows the track, so
  // drawing and hit-testing it cost no more than the track does.
  if (fill > full) fill = full;
  view_.SetFillWidth(static_cast<float>(fill));

  // The speed line shows the bytes of the last interval of a little over a
  // second. Past midnight the time of day restarts near 0 and the line stops
  // changing, as the comparison below never holds again.
  const float now = static_cast<float>(clock_.TimeOfDay());
  if (static_cast<float>(Timerold + 1) < now) {
    int64_t since = int64_t{DownCount} - Downbyte;
    // A new download restarts the count: its bytes so far are the interval's.
    if (since < 0) since = DownCount < 0 ? 0 : DownCount;
    if (since > INT32_MAX) since = INT32_MAX;
    Downbyte = static_cast<int32_t>(since);
    view_.SetStatus(dl::kSpeedPrefix + ToKBMB(Downbyte));
    Timerold = now;
    Downbyte = DownCount;
  }

  AppendDownCode(DownCode, lStatusCode);
  AppendDownCode(transferCode_, lStatusCode);
}

}  // namespace stub
