#include "daemon/utilities/script_literal.h"

namespace qd {

std::string scriptLiteralEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace qd
