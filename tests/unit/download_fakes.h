// A fake platform around a download controller: logs its calls and states, counts calls after CloseAll.
#pragma once
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>
#include "base/run_state.h"
#include "download/controller.h"

namespace stub::test {

inline constexpr char16_t kGood[] = u"0123456789abcdef0123456789abcdef";
inline constexpr char16_t kBad[] = u"fedcba9876543210fedcba9876543210";
inline const std::u16string kSha(64, u'5');  // the SHA-256 of every file unless `sha256s` says otherwise
inline constexpr char16_t kUser[] = u"S-1-5-21-7-8-9-1001";  // the user the program runs as, owner of every folder
using Texts = std::vector<std::u16string>;
using S = DownState;

struct Note { int32_t max, progress, code; };
inline const std::vector<Note> kClean = {{1000, 0, 4}, {1000, 0, 14}, {1000, 500, 5}, {1000, 1000, 5}, {1000, 1000, 6}},
                               kBroken = {{0, 0, 1}, {1000, 200, 5}, {1000, 300, 6}};  // statuses of a transfer
// digest: what the saved file hashes to, "" leaves no file; seconds spread over the notes; aborted: stalled; refused.
struct Transfer { std::vector<Note> notes; std::u16string digest; double seconds = 2; bool aborted = false, refused = false; };
struct Disk { uint32_t spc, bps, freeClusters; };

struct Rig : Clock, MessageWaiter, FileSystem, DownloadEngine, DownloadView, Shell {
  Texts log, reports, urls;  // reports: data texts, "KEY k: data" for a key other than Setup
  int afterEnd = 0, pumps = 0, closes = 0;
  double now = 36000, stepCap = 1e9;  // a message arriving ends a wait after stepCap seconds
  std::vector<double> waits;
  std::set<std::u16string> existing, unwritable, windows;  // unwritable: folders, with '\'
  std::set<std::u16string> swapped;  // files whose start ran another image
  std::set<std::u16string> links;    // folders that are junctions or links, with '\'
  std::map<std::u16string, std::u16string> digests, sha256s, owners;  // owners: per folder, with '\' 
  std::map<std::u16string, SignatureFacts> signatures;  // per path; any other file has `signature`
  SignatureFacts signature;
  std::map<std::u16string, Disk> disks;  // per root; a missing root fails
  std::u16string held, status, separator = u".";
  std::vector<Transfer> transfers;  // played one per download; none saves nothing
  float full = 7470, fill = 0;
  std::function<void()> onWait, onPump, onDigest, onMessage;  // messages dispatched there
  RunState run;
  DownloadController ctl{run, *this, *this, *this, *this, *this, *this};

  Rig() {
    run.DownUrl = u"http://dl.example.com/soft/setup.exe", run.FileMD5 = kGood, run.NISITitle = u"Korvel", run.NISIVer = u"4.2";
  }
  explicit Rig(std::vector<Transfer> played, void (*setup)(Rig&) = nullptr) : Rig() {
    if (transfers = std::move(played); setup) setup(*this);
  }
  void Start() { ctl.Timer1_Timer(); }
  void Put(const std::u16string& path, std::u16string digest) { existing.insert(path), digests[path] = digest; }
  void Advance(double s) { now += s, now -= now >= 86400 ? 86400 : 0; }
  Texts With(std::u16string_view prefix) const {
    Texts out;
    for (const auto& e : log)
      if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
  }
  Texts Tail(size_t n) const { return Texts(log.end() - n, log.end()); }
  void Touch(std::u16string entry = u"") {  // every fake call starts here
    afterEnd += closes > 0;
    if (!entry.empty()) log.push_back(std::move(entry));
  }

  double TimeOfDay() override { return Touch(), now; }
  std::u16string TimeStamp() override { return Touch(), u"20240102030405"; }
  static void Call(const std::function<void()>& f) { if (f) f(); }
  void WaitMessages(double maxSeconds) override {
    Touch(), waits.push_back(maxSeconds), Advance(maxSeconds < stepCap ? maxSeconds : stepCap), Call(onWait);
  }
  void PumpMessages() override { Touch(), ++pumps, Call(onPump); }
  bool Exists(const std::u16string& path) override { return Touch(), existing.count(path) > 0; }
  int32_t CreateFolder(const std::u16string& path) override {
    return Touch(), unwritable.count(path) ? 76 : (existing.insert(path), 0);
  }
  bool IsReparsePoint(const std::u16string& path) override { return Touch(), links.count(path) > 0; }
  std::u16string Owner(const std::u16string& path) override {
    return Touch(), owners.count(path) ? owners[path] : kUser;
  }
  std::u16string User() override { return Touch(), kUser; }
  int32_t WriteFirstByte(const std::u16string& path) override {  // refused in an unwritable folder
    return Touch(), unwritable.count(path.substr(0, path.rfind(u'\\') + 1)) ? 75 : (existing.insert(path), 0);
  }
  bool DiskFree(const std::u16string& root, uint32_t& spc, uint32_t& bps, uint32_t& freeC,
                uint32_t& total) override {
    const auto it = (Touch(), disks.find(root));
    if (it == disks.end()) return false;
    return spc = it->second.spc, bps = it->second.bps, freeC = it->second.freeClusters, total = 0, true;
  }
  std::u16string DigestAndHold(const std::u16string& path) override {
    Touch(), held.clear(), Call(onDigest);
    if (closes) return u"";  // the real program never gets here
    const std::u16string d = digests.count(path) ? digests[path] : existing.count(path) ? std::u16string(32, u'0') : u"";
    if (!d.empty() && d.find(u"ERR") == std::u16string::npos) held = path, Touch(u"hold:" + path);
    return d;
  }
  void ReleaseHold() override { Touch(held.empty() ? u"" : u"release:" + held), held.clear(); }
  void KeepHeld() override { Touch(u"keep:" + held), held.clear(); }
  std::u16string HeldSHA256() override { return Touch(), held.empty() ? u"" : sha256s.count(held) ? sha256s[held] : kSha; }
  SignatureFacts HeldSignature() override { return Touch(), signatures.count(held) ? signatures[held] : signature; }
  TransferEnd DownloadFile(const std::u16string& url, const std::u16string& path, ProgressSink& sink) override {
    Touch(u"download:" + path), urls.push_back(url);
    const Transfer t = urls.size() <= transfers.size() ? transfers[urls.size() - 1] : Transfer{};
    if (t.notes.empty()) Advance(t.seconds);
    for (size_t i = 0; i < t.notes.size() && !closes; ++i)
      Advance(t.seconds / t.notes.size()), sink.OnProgress(t.notes[i].max, t.notes[i].progress, t.notes[i].code);
    if (!t.digest.empty()) Put(path, t.digest);
    if (t.refused) return TransferEnd::Refused;
    return t.aborted ? TransferEnd::Aborted : t.digest.empty() ? TransferEnd::Failed : TransferEnd::Completed;
  }
  float FullWidth() override { return Touch(), full; }
  void SetFillWidth(float twips) override { Touch(), fill = twips; }
  void SetStatus(const std::u16string& text) override { Touch(u"status:" + text), status = text; }
  void ShowBrowserButton() override { Touch(u"button"); }
  void Hide() override { Touch(u"hide"); }
  void ShowMessage(const std::u16string& text, const std::u16string& title) override {
    Touch(u"message:" + text + u"|" + title), Call(onMessage);
  }
  void Open(const std::u16string& target) override { Touch(u"open:" + target); }
  bool Launch(const std::u16string& path, LaunchAs how) override {
    Touch(u"open:" + path + (how == LaunchAs::Program ? u" as a program" : u""));
    return swapped.count(path) == 0;  // another image started: ended by the shell
  }
  bool WindowExists(const std::u16string& title) override { return Touch(), windows.count(title) > 0; }
  std::u16string AppPath() override { return Touch(), u"C:\\App\\"; }
  void SendReport(const std::u16string& key, const std::u16string& data) override {
    Touch(u"report:" + data), reports.push_back(key == u"Setup" ? data : u"KEY " + key + u": " + data);
  }
  std::u16string DecimalSeparator() override { return Touch(), separator; }
  void CloseAll() override { Touch(u"closeall"), ++closes; }
};

}  // namespace stub::test
