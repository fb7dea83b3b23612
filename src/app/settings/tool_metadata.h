#pragma once

// The tool catalog the daemon's "app_get_tool_catalog" answers, as records. Decoding is
// strict: a required key that is missing, null or of the wrong kind fails the record, and
// one bad tool or parameter fails the whole catalog. Absent optionals are left out when
// encoding.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "daemon/utilities/json.h"

namespace qd {

struct ToolMetadata {
  struct ToolParameter {
    std::string name;
    std::string type;         // "unknown" when the schema gives none
    std::string description;  // empty when the schema gives none
    bool required = false;

    static ToolParameter fromJson(const Json& json);
    Json toJson() const;
  };

  std::string name;
  std::string description;
  std::optional<std::string> liveHelpText;
  std::vector<ToolParameter> parameters;
  bool readOnly = false;
  std::optional<std::string> capability;  // "read", "write", "readwrite"
  std::optional<std::string> group;
  std::optional<std::vector<std::string>> operations;

  static ToolMetadata fromJson(const Json& json);
  Json toJson() const;
};

struct ToolCatalogFile {
  std::vector<ToolMetadata> tools;  // in the daemon's order
  std::int64_t timestamp = 0;       // whole seconds since 1970

  static ToolCatalogFile fromJson(const Json& json);
  Json toJson() const;
};

}  // namespace qd
