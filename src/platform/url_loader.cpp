#include "platform/url_loader.h"

#include <memory>
#include <mutex>

#include <curl/curl.h>

namespace qd::platform {

namespace {

std::once_flag globalInit;

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

}  // namespace

std::optional<URLParts> parseURL(const std::string& url) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), &curl_url_cleanup);
  if (!handle) return std::nullopt;
  if (curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return std::nullopt;
  }
  URLParts parts;
  const auto part = [&](CURLUPart which, std::string& target) {
    char* value = nullptr;
    if (curl_url_get(handle.get(), which, &value, 0) == CURLUE_OK && value != nullptr) target = value;
    curl_free(value);
  };
  part(CURLUPART_SCHEME, parts.scheme);
  part(CURLUPART_HOST, parts.host);
  return parts;
}

std::string loadURL(const std::string& url, const UrlLoadOptions& options) {
  std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
  if (!handle) throw UrlLoadError("could not start the transfer");
  std::string body;
  CURL* easy = handle.get();
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  // Only the web: no file://, no other protocol to any host, neither at first nor after a redirect.
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, options.maxRedirects);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(options.timeout.count()));
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);  // worker threads: no SIGALRM for the resolver
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  const CURLcode code = curl_easy_perform(easy);
  if (code != CURLE_OK) throw UrlLoadError(curl_easy_strerror(code));
  return body;
}

}  // namespace qd::platform
