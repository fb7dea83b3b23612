#pragma once

// One HTTP GET of a web page, for the providers that read public pages. Blocking: run it
// on the blocking pool, never on the io thread.

#include <chrono>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

namespace qd::platform {

// A fetch that did not get an answer: a refused scheme, no connection, the time-out.
class UrlLoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct UrlLoadOptions {
  std::chrono::milliseconds timeout = std::chrono::seconds(60);  // the whole fetch, redirects included
  long maxRedirects = 10;
  // The most body bytes a fetch keeps (after decompression), also behind redirects.
  std::size_t maxBodyBytes = 16 * 1024 * 1024;
};

struct URLParts {
  std::string scheme;  // lower-case
  std::string host;    // as written; may be empty
};

// The scheme and host of an absolute URL, or none when the text does not parse as one.
std::optional<URLParts> parseURL(const std::string& url);

// The body of a GET of `url`, whatever the HTTP status. Redirects are followed. Only
// http and https are spoken, also across redirects: any other scheme (file, ftp, ...) is
// refused before anything is read. A body that grows past `maxBodyBytes` ends the fetch
// as it arrives ("The response is larger than 16 MiB"), and what was read is dropped.
// Throws UrlLoadError with the transfer's error text.
std::string loadURL(const std::string& url, const UrlLoadOptions& options = {});

}  // namespace qd::platform
