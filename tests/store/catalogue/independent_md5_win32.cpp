// The CryptoAPI's MD5.
#include <windows.h>
#include <wincrypt.h>

#include "independent_md5.h"

namespace catalogue_test {

std::string independent_md5_hex(const std::string& bytes) {
  std::string hex;
  HCRYPTPROV prov = 0;
  if (!CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
    return "no provider";
  HCRYPTHASH hash = 0;
  if (CryptCreateHash(prov, CALG_MD5, 0, 0, &hash)) {
    BYTE digest[16];
    DWORD size = sizeof digest;
    if (CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                      static_cast<DWORD>(bytes.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0)) {
      static const char kHex[] = "0123456789abcdef";
      for (DWORD i = 0; i < size; ++i) {
        hex.push_back(kHex[digest[i] >> 4]);
        hex.push_back(kHex[digest[i] & 15]);
      }
    }
    CryptDestroyHash(hash);
  }
  CryptReleaseContext(prov, 0);
  return hex;
}

}  // namespace catalogue_test
