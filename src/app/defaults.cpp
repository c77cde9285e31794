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
}

std::u16string ExeBaseName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"\\/");
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos) name = name.substr(0, dot);
  return std::u16string(name);
}

}  // namespace stub
