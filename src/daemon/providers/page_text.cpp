#include "daemon/providers/page_text.h"

#include <cstdint>

#include "daemon/utilities/unicode_text.h"

namespace qd {

namespace {

// Removes every element from `open` to the first `close` after it. Once a closing text is
// missing, none follows any later opening either, so the rest stays as it is.
std::string removeElements(std::string_view text, std::string_view open, std::string_view close) {
  std::string out;
  out.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t start = text.find(open, position);
    if (start == std::string_view::npos) break;
    const std::size_t end = text.find(close, start + open.size());
    if (end == std::string_view::npos) break;
    out.append(text.substr(position, start - position));
    position = end + close.size();
  }
  out.append(text.substr(std::min(position, text.size())));
  return out;
}

// Every "<" followed by one or more characters other than ">" and then ">" becomes a blank.
std::string replaceTags(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t start = text.find('<', position);
    if (start == std::string_view::npos) break;
    if (start + 1 < text.size() && text[start + 1] == '>') {  // "<>" is no tag
      out.append(text.substr(position, start + 1 - position));
      position = start + 1;
      continue;
    }
    const std::size_t end = text.find('>', start + 1);
    if (end == std::string_view::npos) break;  // no ">" later: no tag can close
    out.append(text.substr(position, start - position));
    out.push_back(' ');
    position = end + 1;
  }
  out.append(text.substr(std::min(position, text.size())));
  return out;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  std::size_t position = 0;
  while (true) {
    const std::size_t found = text.find(from, position);
    if (found == std::string_view::npos) break;
    out.append(text.substr(position, found - position));
    out.append(to);
    position = found + from.size();
  }
  out.append(text.substr(position));
  return out;
}

// Runs of white space become one blank; none is left at either end.
std::string collapseSpace(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool pendingBlank = false;
  for (std::size_t i = 0; i < text.size();) {
    if (const std::size_t length = unicode::whiteSpaceLengthAt(text, i)) {
      pendingBlank = !out.empty();
      i += length;
      continue;
    }
    if (pendingBlank) out.push_back(' ');
    pendingBlank = false;
    out.push_back(text[i]);
    ++i;
  }
  return out;
}

}  // namespace

std::string strippedPageText(std::string_view html) {
  std::string text = removeElements(html, "<script", "</script>");
  text = removeElements(text, "<style", "</style>");
  text = replaceTags(text);
  text = replaceAll(text, "&nbsp;", " ");
  text = replaceAll(text, "&amp;", "&");
  text = collapseSpace(text);
  if (unicode::graphemeCount(text) <= pageTextLimit) return text;
  return unicode::truncatedToGraphemes(text, pageTextLimit) + "\u2026";
}

}  // namespace qd
