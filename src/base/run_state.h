// The one process-wide record of values that several parts of the program
// share: built-in settings, the server's reply, the machine profile, the
// page-fetch state and the saved installer. Nothing of it is stored on disk.
#pragma once

#include <cstdint>
#include <string>

namespace stub {

struct RunState {
  std::u16string NetText;  // last fetched page text; then the decoded reply
  bool NetDone = false;    // the current page fetch has ended

  std::u16string SoftVer;
  std::u16string SoftId;
  std::u16string SetupName;  // application title; single-instance key
  std::u16string Channel;
  std::u16string PcId_C;  // never set: always sent empty
  std::u16string PcId;
  std::u16string ServerUrl;
  std::u16string NameTitle;  // caption of the download window and its title
  std::u16string NISITitle;
  std::u16string NISIVer;
  std::u16string DownUrl;
  std::u16string DownMD5;
  std::u16string FileMD5;
  std::u16string FileSHA256;      // the reply's exact SHA-256 of the installer
  bool FileSHA256Given = false;   // the reply announced one, well-formed or not
  std::u16string DefaultDownUrl;
  std::u16string DefaultFileMD5;
  std::u16string SaveName;
  std::u16string SaveDir;
  // Built in: SHA-256 fingerprints of the certificates allowed to sign the
  // installer ("hex,hex,..."); empty when the build pins none.
  std::u16string InstallerSigners;

  std::u16string OS;
  std::u16string Scr;
  std::u16string OSBit;
  int32_t DPI = 0;
  std::u16string OSLanguage;
  std::u16string TimeID;
};

}  // namespace stub
