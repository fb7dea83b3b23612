#pragma once

// Note URLs ("tinderbox://<document>/<path>?view=...&select=...") and note paths.

#include <optional>
#include <string>
#include <string_view>

namespace qd {

// Trimmed; "" stays ""; "/" (or only slashes) gives "/" with preserveRoot, else "".
// Otherwise the leading slashes are dropped and, with preserveRoot, one is put back.
// Trailing and inner slashes stay.
std::string normalizeTinderboxPath(std::string_view path, bool preserveRoot);

// Percent-encoding with the characters a URL path keeps (unreserved, sub-delimiters, ":",
// "@" and "/"), and with those a query value keeps: unreserved, "!$'()*,;:@/?",
// and never "&", "=" or "+", so a value cannot add a query item of its own.
std::string percentEncodedPath(std::string_view text);
std::string percentEncodedQueryValue(std::string_view text);

// "tinderbox://" + document + "/" + pathPart, then "?view=..." and "&select=..." for the
// values present and not empty. Document and path part are encoded here.
std::string noteURL(std::string_view document, std::string_view pathPart, const std::optional<std::string>& view,
                    const std::optional<std::string>& select);

// Whether a URL may be opened: begins with "tinderbox://" in any letter case, parses as a
// URL, and holds no control, line-breaking or illegal character (nor ill-formed UTF-8).
bool isOpenableTinderboxURL(std::string_view url);

}  // namespace qd
