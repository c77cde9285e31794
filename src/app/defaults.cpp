#include "app/defaults.h"

#include "codec/codec.h"

namespace stub {

std::u16string DefaultSetupName(const BuiltIns& b, std::u16string_view exeName) {
  const bool first = exeName.find(u"vh2vh6") != std::u16string_view::npos;
  return CodeText(first ? b.CodedTitle1 : b.CodedTitle2, u"A", kCodecKey);
}

void LoadDefaults(RunState& s, const BuiltIns& b, std::u16string_view exeName,
                  std::u16string (*getPcId)()) {
  s.SoftVer = u"V3.1.1";
  s.SoftId = u"vrx";
  s.SetupName = DefaultSetupName(b, exeName);
  s.Channel = std::u16string(b.Channel);
  s.ServerUrl = b.ServerUrl;
  s.PcId = getPcId ? getPcId() : std::u16string();
  s.NameTitle = u"Korvel安装";
  s.DefaultDownUrl = b.DefaultDownUrl;
  s.DefaultFileMD5 = b.DefaultFileMD5;
  s.InstallerSigners = b.InstallerSigners;
}

bool IsDownloadScheme(std::u16string_view scheme) {
  return scheme == u"http" || scheme == u"https";
}

bool IsBareHost(std::u16string_view host) {
  return !host.empty() && host.find_first_of(u"/ ?#") == std::u16string_view::npos;
}

bool IsServerBaseUrl(std::u16string_view url) {
  const size_t sep = url.find(u"://");
  if (sep == std::u16string_view::npos || !IsDownloadScheme(url.substr(0, sep))) return false;
  const std::u16string_view rest = url.substr(sep + 3);
  return !rest.empty() && rest.back() == u'/' && IsBareHost(rest.substr(0, rest.size() - 1));
}

std::u16string FallbackDownUrl(std::u16string_view scheme, std::u16string_view host) {
  std::u16string url(scheme);
  url.append(u"://").append(host).append(u"/rmgb/4.2.2/wlpq1(wlpqhd).exe");
  return url;
}

std::u16string ExeBaseName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos) name = name.substr(0, dot);
  return std::u16string(name);
}

}  // namespace stub
