#include "daemon/router/json_normalizing.h"

#include <cmath>

#include "daemon/core/daemon_error.h"

namespace qd {
namespace {

std::string base64(const std::vector<std::uint8_t>& bytes) {
  static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::uint32_t chunk = (std::uint32_t{bytes[i]} << 16) |
                                (i + 1 < bytes.size() ? std::uint32_t{bytes[i + 1]} << 8 : 0) |
                                (i + 2 < bytes.size() ? std::uint32_t{bytes[i + 2]} : 0);
    text += alphabet[(chunk >> 18) & 63];
    text += alphabet[(chunk >> 12) & 63];
    text += i + 1 < bytes.size() ? alphabet[(chunk >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? alphabet[chunk & 63] : '=';
  }
  return text;
}

}  // namespace

Json sanitizeJSONObject(const Json& value) {
  switch (value.type()) {
    case Json::value_t::object: {
      Json object = Json::object();
      for (const auto& [key, member] : value.items()) object[key] = sanitizeJSONObject(member);
      return object;
    }
    case Json::value_t::array: {
      Json array = Json::array();
      for (const Json& element : value) array.push_back(sanitizeJSONObject(element));
      return array;
    }
    case Json::value_t::number_float: {
      const double number = value.get<double>();
      if (std::isnan(number)) return "nan";
      if (std::isinf(number)) return number > 0 ? "inf" : "-inf";
      return value;
    }
    case Json::value_t::binary:
      return base64(value.get_binary());
    case Json::value_t::discarded:
      return "discarded";
    default:
      // A JSON null inside a result stays null: it is a value the tool meant.
      return value;
  }
}

Json normalizeJSONPayload(const Json& result) {
  Json sanitized = sanitizeJSONObject(result);
  if (!sanitized.is_object()) throw DaemonError::internalNavigationError();
  return sanitized;
}

}  // namespace qd
