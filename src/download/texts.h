// Fixed texts of the download flow: what the window shows and the data of the
// reports it sends.
#pragma once

namespace stub {
namespace dl {

inline constexpr char16_t kReportKey[] = u"Setup";
inline constexpr char16_t kEnd[] = u"END";

// Folders tried for the installer before the program's own folder.
inline constexpr char16_t kTempC[] = u"C:\\Temp\\";
inline constexpr char16_t kTempD[] = u"D:\\Temp\\";
inline constexpr char16_t kProbeFile[] = u"1.tmp";
inline constexpr char16_t kExe[] = u".exe";

inline constexpr char16_t kUrlmon32[] = u"C:\\Windows\\System32\\urlmon.dll";
inline constexpr char16_t kUrlmonWow[] = u"C:\\Windows\\syswow64\\urlmon.dll";
inline constexpr char16_t kNsisErrorTitle[] = u"NSIS Error";

// Window texts.
inline constexpr char16_t kSpeedPrefix[] = u"下载速度：";
inline constexpr char16_t kPreparing[] = u"准备安装...";
inline constexpr char16_t kBrowserMode[] = u"高速下载模式失败,转为浏览器模式下载...";
inline constexpr char16_t kVerifyFailed[] = u"下载文件验证失败,请重试";
inline constexpr char16_t kDontClose[] = u"下载中...请勿关闭！";
inline constexpr char16_t kNoticeTitle[] = u"提示";
inline constexpr char16_t kDiskFullC[] = u"C盘已没有可用空间,无法安装软件！";
inline constexpr char16_t kDiskFullD[] = u"D盘已没有可用空间,无法安装软件！";

// Report data.
inline constexpr char16_t kReuseFound[] = u"IsDownEmp=OK";
inline constexpr char16_t kCheckFile[] = u"CheckFile-";
inline constexpr char16_t kNoWritableFolder[] = u"TestEmp=Not";
inline constexpr char16_t kBeginDown[] = u"BeginDown";
inline constexpr char16_t kNoSaveName[] = u"SaveExe=Null";
inline constexpr char16_t kFinishOk[] = u"DownFinish=OK:";
inline constexpr char16_t kFinishNot[] = u"DownFinish=Not:";
inline constexpr char16_t kNsisError[] = u"NSISError";
inline constexpr char16_t kInstallerSeen[] = u"CheackFinish=OK";
inline constexpr char16_t kRetry[] = u"AutoReDown";
inline constexpr char16_t kFromClose[] = u"fromClose-Down=";
inline constexpr char16_t kBrowserClick[] = u"Image4_Click";

}  // namespace dl
}  // namespace stub
