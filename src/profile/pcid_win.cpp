// Reading the machine identifier's sources: drive serial numbers through the
// SMART driver interface and the processor id through WMI.
#include <windows.h>
#include <wbemcli.h>

#include <array>

#include "base/clock_win.h"
#include "base/handle_win.h"
#include "profile/pcid.h"
#include "profile/profile_win.h"

namespace stub {
namespace {

constexpr DWORD kSmartGetVersion = 0x74080;
constexpr DWORD kSmartSendDriveCommand = 0x7C084;
constexpr DWORD kSmartRcvDriveData = 0x7C088;

UniqueFile OpenDrive(uint8_t drive) {
  OSVERSIONINFOW vi = {};
  vi.dwOSVersionInfoSize = sizeof vi;
  if (!GetVersionExW(&vi)) return {};
  if (vi.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS)  // 95/98/Me: one device serves all drives
    return UniqueFile(CreateFileW(L"\\\\.\\SMARTVSD", 0, 0, nullptr, CREATE_NEW, 0, nullptr));
  if (vi.dwPlatformId != VER_PLATFORM_WIN32_NT || drive >= 4) return {};
  wchar_t name[] = L"\\\\.\\PhysicalDrive0";
  name[17] = static_cast<wchar_t>(L'0' + drive);
  return UniqueFile(CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
}

std::u16string GetDiskSerial(uint8_t drive) {
  UniqueFile device = OpenDrive(drive);
  if (!device) return {};
  DWORD got = 0;
  std::array<uint8_t, 24> version = SmartVersionOutBlock();
  // Its result is not needed: a failure leaves the device map at 0.
  DeviceIoControl(device.get(), kSmartGetVersion, nullptr, 0, version.data(), version.size(), &got,
                  nullptr);
  std::array<uint8_t, 36> in = SmartEnableInBlock(drive);
  uint8_t enableOut[19] = {};
  // Sent whatever the device map says; its outcome is not used.
  DeviceIoControl(device.get(), kSmartSendDriveCommand, in.data(), 35, enableOut, sizeof enableOut,
                  &got, nullptr);
  in = SmartIdentifyInBlock(drive, version[3]);
  uint8_t out[532] = {};
  if (!DeviceIoControl(device.get(), kSmartRcvDriveData, in.data(), 32, out, 528, &got, nullptr))
    return {};
  return SerialFromIdentify(out, sizeof out, DecodeCharset);
}

std::u16string GetDiskId() {
  std::u16string serials[4];
  for (uint8_t drive = 0; drive < 4; ++drive) serials[drive] = GetDiskSerial(drive);
  return DiskIdFromSerials(serials);
}

std::u16string GetCpuId() {
  // Any failure leaves whatever has been read so far.
  std::u16string last;
  ComPtr<IWbemLocator> locator;
  if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                              reinterpret_cast<void**>(locator.put()))))
    return {};
  ComPtr<IWbemServices> services;
  BSTR ns = SysAllocString(L"ROOT\\CIMV2");
  const HRESULT hr = locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                            services.put());
  SysFreeString(ns);
  if (FAILED(hr)) return {};
  CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                    RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  ComPtr<IEnumWbemClassObject> instances;
  BSTR cls = SysAllocString(L"Win32_Processor");
  const HRESULT hr2 = services->CreateInstanceEnum(
      cls, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, instances.put());
  SysFreeString(cls);
  if (FAILED(hr2)) return {};
  for (;;) {
    ComPtr<IWbemClassObject> cpu;
    ULONG n = 0;
    if (instances->Next(10000, 1, cpu.put(), &n) != WBEM_S_NO_ERROR || n == 0) break;
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(cpu->Get(L"ProcessorId", 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR && v.bstrVal)
      last.assign(reinterpret_cast<const char16_t*>(v.bstrVal), SysStringLen(v.bstrVal));
    VariantClear(&v);
  }
  return CpuIdFromProcessorId(last);
}

}  // namespace

std::u16string GetPcId() {
  std::u16string id = GetDiskId();
  return id.empty() ? GetCpuId() : id;
}

}  // namespace stub
