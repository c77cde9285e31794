// Fakes of the platform behind the download controller, all sharing one
// World: a log of what the controller did, the trace of its states, and a
// count of anything it did after CloseAll.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/run_state.h"
#include "base/text.h"
#include "download/controller.h"
#include "download/ports.h"

namespace stub::test {

inline constexpr char16_t kGood[] = u"0123456789abcdef0123456789abcdef";
inline constexpr char16_t kGoodUpper[] = u"0123456789ABCDEF0123456789ABCDEF";
inline constexpr char16_t kBad[] = u"fedcba9876543210fedcba9876543210";
inline constexpr char16_t kBadUpper[] = u"FEDCBA9876543210FEDCBA9876543210";

struct World {
  const DownloadController* ctl = nullptr;
  std::vector<std::u16string> log;   // "open:...", "hide", "status:...", "closeall", ...
  std::vector<DownState> states;     // each state the controller was seen in, in order
  bool ended = false;
  int afterEnd = 0;                  // controller calls into the platform after CloseAll

  // Every fake method starts here.
  void Touch() {
    if (ended) ++afterEnd;
    if (ctl && (states.empty() || states.back() != ctl->State())) states.push_back(ctl->State());
  }
  void Add(std::u16string entry) { log.push_back(std::move(entry)); }
  std::vector<std::u16string> With(std::u16string_view prefix) const {
    std::vector<std::u16string> out;
    for (const auto& e : log)
      if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
  }
};

// Each fake reaches the shared World through w_.
struct Seam {
  explicit Seam(World& w) : w_(w) {}
  World& w_;
};

class FakeClock : public Clock, Seam {
 public:
  using Seam::Seam;
  double now = 36000;  // 10:00
  std::u16string stamp = u"20240102030405";
  double TimeOfDay() override { w_.Touch(); return now; }
  std::u16string TimeStamp() override { w_.Touch(); return stamp; }
  void Advance(double s) {
    now += s;
    if (now >= 86400) now -= 86400;  // local midnight
  }
};

class FakeWaiter : public MessageWaiter, Seam {
 public:
  FakeWaiter(World& w, FakeClock& c) : Seam(w), clock_(c) {}
  std::vector<double> waits;          // maxSeconds of each WaitMessages call
  double stepCap = 1e9;               // a message arriving early ends a wait after this long
  int pumps = 0;
  std::function<void()> onWait;       // a message dispatched inside a wait
  std::function<void()> onPump;       // a message dispatched by PumpMessages
  void WaitMessages(double maxSeconds) override {
    w_.Touch();
    waits.push_back(maxSeconds);
    clock_.Advance(maxSeconds < stepCap ? maxSeconds : stepCap);
    if (onWait) onWait();
  }
  void PumpMessages() override {
    w_.Touch();
    ++pumps;
    if (onPump) onPump();
  }

 private:
  FakeClock& clock_;
};

class FakeFiles : public FileSystem, Seam {
 public:
  using Seam::Seam;
  struct Disk {
    uint32_t sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  };
  std::set<std::u16string> existing;
  std::set<std::u16string> unwritable;                 // folders that refuse creation and writes
  std::map<std::u16string, std::u16string> digests;    // digest text per path
  std::map<std::u16string, Disk> disks;                // per root; a missing root fails
  std::u16string held;
  std::function<void()> onDigest;                      // messages let through during a digest

  bool Exists(const std::u16string& path) override { w_.Touch(); return existing.count(path) > 0; }
  int32_t CreateFolder(const std::u16string& path) override {
    w_.Touch();
    if (unwritable.count(path)) return 76;  // path not found
    existing.insert(path);
    return 0;
  }
  int32_t WriteFirstByte(const std::u16string& path) override {
    w_.Touch();
    if (unwritable.count(path.substr(0, path.rfind(u'\\') + 1))) return 75;  // access error
    existing.insert(path);
    w_.Add(u"probe:" + path);
    return 0;
  }
  bool DiskFree(const std::u16string& root, uint32_t& spc, uint32_t& bps, uint32_t& freeC,
                uint32_t& total) override {
    w_.Touch();
    auto it = disks.find(root);
    if (it == disks.end()) return false;
    spc = it->second.sectorsPerCluster, bps = it->second.bytesPerSector;
    freeC = it->second.freeClusters, total = it->second.totalClusters;
    return true;
  }
  std::u16string DigestAndHold(const std::u16string& path) override {
    w_.Touch();
    held.clear();
    if (onDigest) onDigest();
    if (w_.ended) return u"";  // the real program never gets here
    auto it = digests.find(path);
    std::u16string d = it != digests.end() ? it->second
                       : existing.count(path) ? u"00000000000000000000000000000000"
                                              : u"";
    if (!d.empty() && d.find(u"ERR") == std::u16string::npos) {
      held = path;
      w_.Add(u"hold:" + path);
    }
    return d;
  }
  void ReleaseHold() override {
    w_.Touch();
    if (!held.empty()) w_.Add(u"release:" + held);
    held.clear();
  }
};

class FakeEngine : public DownloadEngine, Seam {
 public:
  struct Note {
    int32_t lMax, lProgress, code;
  };
  struct Transfer {
    std::vector<Note> notes;
    std::u16string digest;        // what the saved file hashes to; "" leaves no file
    double seconds = 2;           // spread evenly over the notes (or spent at once)
    bool aborted = false;         // ended by the stall abort
  };
  FakeEngine(World& w, FakeClock& c, FakeFiles& f) : Seam(w), clock_(c), files_(f) {}
  std::vector<Transfer> transfers;  // played one per download, in order
  std::vector<std::u16string> urls, paths;
  std::function<void(size_t transfer, size_t note)> during;  // after each note

  TransferEnd DownloadFile(const std::u16string& url, const std::u16string& path,
                           ProgressSink& sink) override {
    w_.Touch();
    const size_t index = urls.size();
    urls.push_back(url);
    paths.push_back(path);
    w_.Add(u"download:" + path);
    const Transfer t = index < transfers.size() ? transfers[index] : Transfer{};
    if (t.notes.empty()) clock_.Advance(t.seconds);
    for (size_t i = 0; i < t.notes.size() && !w_.ended; ++i) {
      clock_.Advance(t.seconds / t.notes.size());
      sink.OnProgress(t.notes[i].lMax, t.notes[i].lProgress, t.notes[i].code);
      if (during) during(index, i);
    }
    if (!t.digest.empty()) {
      files_.existing.insert(path);
      files_.digests[path] = t.digest;
    }
    if (t.aborted) return TransferEnd::Aborted;
    return t.digest.empty() ? TransferEnd::Failed : TransferEnd::Completed;
  }

 private:
  FakeClock& clock_;
  FakeFiles& files_;
};

class FakeView : public DownloadView, Seam {
 public:
  using Seam::Seam;
  float full = 7470;
  float fill = 0;
  std::u16string status;
  std::function<void()> onMessage;  // messages dispatched while the box is open

  float FullWidth() override { w_.Touch(); return full; }
  void SetFillWidth(float twips) override { w_.Touch(); fill = twips; }
  void SetStatus(const std::u16string& text) override {
    w_.Touch();
    status = text;
    w_.Add(u"status:" + text);
  }
  void ShowBrowserButton() override { w_.Touch(); w_.Add(u"button"); }
  void Hide() override { w_.Touch(); w_.Add(u"hide"); }
  void ShowMessage(const std::u16string& text, const std::u16string& title) override {
    w_.Touch();
    w_.Add(u"message:" + text + u"|" + title);
    if (onMessage) onMessage();
  }
};

class FakeShell : public Shell, Seam {
 public:
  using Seam::Seam;
  std::vector<std::u16string> reports;  // data texts; a key other than "Setup" is marked
  std::set<std::u16string> windows;
  std::u16string appPath = u"C:\\App\\";
  std::u16string separator = u".";
  int closes = 0;

  void Open(const std::u16string& target) override { w_.Touch(); w_.Add(u"open:" + target); }
  // A file started as a program is logged "open:" + path + " as a program".
  void Launch(const std::u16string& path, LaunchAs how) override {
    w_.Touch();
    w_.Add(u"open:" + path + (how == LaunchAs::Program ? u" as a program" : u""));
  }
  bool WindowExists(const std::u16string& title) override { w_.Touch(); return windows.count(title) > 0; }
  std::u16string AppPath() override { w_.Touch(); return appPath; }
  void SendReport(const std::u16string& key, const std::u16string& data) override {
    w_.Touch();
    reports.push_back(key == u"Setup" ? data : u"KEY " + key + u": " + data);
    w_.Add(u"report:" + data);
  }
  std::u16string DecimalSeparator() override { w_.Touch(); return separator; }
  void CloseAll() override {
    w_.Touch();
    ++closes;
    w_.Add(u"closeall");
    w_.ended = true;
  }
};

// The whole platform around one controller, with a good download ready.
struct Rig {
  World world;
  FakeClock clock{world};
  FakeWaiter waiter{world, clock};
  FakeFiles files{world};
  FakeEngine engine{world, clock, files};
  FakeView view{world};
  FakeShell shell{world};
  RunState run;
  DownloadController ctl{run, clock, waiter, files, engine, view, shell};

  Rig() {
    world.ctl = &ctl;
    run.DownUrl = u"http://dl.example.com/soft/setup.exe";
    run.FileMD5 = kGood;
    run.NISITitle = u"Korvel";
    run.NISIVer = u"4.2";
  }
  static FakeEngine::Transfer Complete(std::u16string digest) {
    return {{{1000, 0, 4}, {1000, 0, 14}, {1000, 500, 5}, {1000, 1000, 5}, {1000, 1000, 6}},
            std::move(digest)};
  }
  // A transfer that never reaches the data phase the usual way.
  static FakeEngine::Transfer Broken(std::u16string digest = kBad) {
    return {{{0, 0, 1}, {1000, 200, 5}, {1000, 300, 6}}, std::move(digest)};
  }
  void Start() { ctl.Timer1_Timer(); }
};

}  // namespace stub::test
