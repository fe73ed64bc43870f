// libcurl on demand: the URL resolution is its only user, and the library with its TLS,
// Kerberos and LDAP dependencies was the largest part of the host's start-up.
#include "ondemand_library_posix.h"

#include <curl/curl.h>

#include <cstdarg>

namespace {

qv::ondemand::library& lib() {
  static qv::ondemand::library l(TIV_ONDEMAND_SONAME);
  return l;
}

using any_function = void (*)(void);

}  // namespace

TIV_ONDEMAND(CURLcode, curl_global_init, (long flags), (flags), CURLE_FAILED_INIT)
TIV_ONDEMAND(CURL*, curl_easy_init, (void), (), nullptr)
TIV_ONDEMAND(CURLcode, curl_easy_perform, (CURL * curl), (curl), CURLE_FAILED_INIT)
TIV_ONDEMAND_VOID(curl_easy_cleanup, (CURL * curl), (curl))

// The option's argument is passed on as curl itself reads it: its type follows from the range
// the option number lies in.
extern "C" CURLcode curl_easy_setopt(CURL* curl, CURLoption option, ...) {
  TIV_ONDEMAND_REAL(curl_easy_setopt);
  if (!real) return CURLE_FAILED_INIT;
  va_list ap;
  va_start(ap, option);
  CURLcode rc;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    rc = real(curl, option, va_arg(ap, long));
  } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
    rc = real(curl, option, va_arg(ap, void*));
  } else if (option < CURLOPTTYPE_OFF_T) {
    rc = real(curl, option, va_arg(ap, any_function));
  } else if (option < CURLOPTTYPE_BLOB) {
    rc = real(curl, option, va_arg(ap, curl_off_t));
  } else {
    rc = real(curl, option, va_arg(ap, void*));
  }
  va_end(ap);
  return rc;
}

// Every piece of information is written through a pointer.
extern "C" CURLcode curl_easy_getinfo(CURL* curl, CURLINFO info, ...) {
  TIV_ONDEMAND_REAL(curl_easy_getinfo);
  if (!real) return CURLE_FAILED_INIT;
  va_list ap;
  va_start(ap, info);
  const CURLcode rc = real(curl, info, va_arg(ap, void*));
  va_end(ap);
  return rc;
}
