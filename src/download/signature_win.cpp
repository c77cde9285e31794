#include "download/signature_win.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "base/shell_win.h"
#include "base/system_dll_win.h"
#include "codec/sha256_win.h"

namespace stub {
namespace {

// Loaded at run time: neither library is one Windows always takes from its
// own folder, so importing them would let a file beside the program stand
// in for them. A program that pins no signer never loads them.
struct TrustApi {
  decltype(&::WinVerifyTrust) verify;
  decltype(&::WTHelperProvDataFromStateData) providerData;
  decltype(&::WTHelperGetProvSignerFromChain) signer;
  decltype(&::WTHelperGetProvCertFromChain) certificate;
  decltype(&::CertGetCertificateChain) chain;
  decltype(&::CertFreeCertificateChain) freeChain;
};

const TrustApi* Api() {
  static TrustApi api;
  static int loaded = 0;  // 0 not tried, 1 ready, -1 missing
  if (loaded == 0) {
    const HMODULE trust = LoadSystemLibrary(L"wintrust.dll"), crypt = LoadSystemLibrary(L"crypt32.dll");
    loaded = trust && crypt && FindProc(trust, "WinVerifyTrust", api.verify) &&
                     FindProc(trust, "WTHelperProvDataFromStateData", api.providerData) &&
                     FindProc(trust, "WTHelperGetProvSignerFromChain", api.signer) &&
                     FindProc(trust, "WTHelperGetProvCertFromChain", api.certificate) &&
                     FindProc(crypt, "CertGetCertificateChain", api.chain) &&
                     FindProc(crypt, "CertFreeCertificateChain", api.freeChain)
                 ? 1 : -1;
  }
  return loaded == 1 ? &api : nullptr;
}

// The signer's certificate and the trust status of its chain. The chain is
// built by the program itself because Wine's WinVerifyTrust accepts a
// signer whose root nobody trusts; the status shows it on both systems.
void ReadSigner(const TrustApi& api, HANDLE state, SignatureFacts& facts) {
  CRYPT_PROVIDER_DATA* provider = api.providerData(state);
  CRYPT_PROVIDER_SGNR* signer = provider ? api.signer(provider, 0, FALSE, 0) : nullptr;
  CRYPT_PROVIDER_CERT* cert = signer ? api.certificate(signer, 0) : nullptr;
  if (!cert || !cert->pCert) return;
  PCCERT_CONTEXT c = cert->pCert;
  facts.signer = Sha256Text(c->pbCertEncoded, c->cbCertEncoded);
  // Valid as of the time stamp when a time-stamping authority countersigned,
  // else now, as Windows judges it; never the signing time the signer
  // claims for itself (which Wine would use).
  FILETIME* when = signer->csCounterSigners ? &signer->sftVerifyAsOf : nullptr;
  LPSTR codeSigning = const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING);
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = &codeSigning;
  // The signature's own certificates supply any intermediate; nothing is
  // fetched from the network.
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!api.chain(nullptr, c, when, c->hCertStore, &para, CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr,
                 &chain))
    return;  // no chain: kChainNone stays
  facts.chainErrors = chain->TrustStatus.dwErrorStatus;
  api.freeChain(chain);
}

}  // namespace

SignatureFacts FileSignature(const std::u16string& path, HANDLE file) {
  SignatureFacts facts;
  const TrustApi* api = Api();
  if (!api) {
    facts.trust = static_cast<uint32_t>(TRUST_E_SYSTEM_ERROR);  // nothing can vouch for the file
    return facts;
  }
  // The file checked is the handle the program holds, not a new opening of
  // the path that someone could have replaced.
  WINTRUST_FILE_INFO info = {};
  info.cbStruct = sizeof info;
  info.pcwszFilePath = W(path);
  info.hFile = file;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  facts.trust = static_cast<uint32_t>(api->verify(noWindow, &action, &data));
  if (facts.trust == 0) ReadSigner(*api, data.hWVTStateData, facts);
  data.dwStateAction = WTD_STATEACTION_CLOSE;  // frees what the check kept, whatever it found
  api->verify(noWindow, &action, &data);
  return facts;
}

}  // namespace stub
