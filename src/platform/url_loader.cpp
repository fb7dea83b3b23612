#include "platform/url_loader.h"

#include <memory>
#include <mutex>

#include <curl/curl.h>

namespace qd::platform {

namespace {

std::once_flag globalInit;

struct Body {
  std::string bytes;
  std::size_t limit = 0;
  bool tooLarge = false;
};

// Checked as the bytes arrive, so an endless or huge answer stops here rather than in
// memory; a short count makes the transfer fail at once.
std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* target) {
  Body& body = *static_cast<Body*>(target);
  const std::size_t n = size * count;
  if (n > body.limit - body.bytes.size()) {
    body.tooLarge = true;
    return 0;
  }
  body.bytes.append(data, n);
  return n;
}

std::string sizeText(std::size_t bytes) {
  constexpr std::size_t mebibyte = 1024 * 1024;
  if (bytes >= mebibyte && bytes % mebibyte == 0) return std::to_string(bytes / mebibyte) + " MiB";
  return std::to_string(bytes) + " bytes";
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
  Body body;
  body.limit = options.maxBodyBytes;
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
  if (body.tooLarge) throw UrlLoadError("The response is larger than " + sizeText(options.maxBodyBytes));
  if (code != CURLE_OK) throw UrlLoadError(curl_easy_strerror(code));
  return std::move(body.bytes);
}

}  // namespace qd::platform
