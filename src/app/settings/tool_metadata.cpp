#include "app/settings/tool_metadata.h"

#include "daemon/utilities/json_codec.h"

namespace qd {

ToolMetadata::ToolParameter ToolMetadata::ToolParameter::fromJson(const Json& json) {
  codec::expectObject(json, "ToolParameter");
  ToolParameter p;
  p.name = codec::requiredString(json, "name");
  p.type = codec::requiredString(json, "type");
  p.description = codec::requiredString(json, "description");
  p.required = codec::requiredBool(json, "required");
  return p;
}

Json ToolMetadata::ToolParameter::toJson() const {
  return Json{{"name", name}, {"type", type}, {"description", description}, {"required", required}};
}

ToolMetadata ToolMetadata::fromJson(const Json& json) {
  codec::expectObject(json, "ToolMetadata");
  ToolMetadata m;
  m.name = codec::requiredString(json, "name");
  m.description = codec::requiredString(json, "description");
  m.liveHelpText = codec::optionalString(json, "liveHelpText");
  m.parameters = codec::requiredRecordList<ToolParameter>(json, "parameters");
  m.readOnly = codec::requiredBool(json, "readOnly");
  m.capability = codec::optionalString(json, "capability");
  m.group = codec::optionalString(json, "group");
  m.operations = codec::optionalStringList(json, "operations");
  return m;
}

Json ToolMetadata::toJson() const {
  Json out = Json::object();
  out["name"] = name;
  out["description"] = description;
  codec::putOptional(out, "liveHelpText", liveHelpText);
  out["parameters"] = codec::toJsonList(parameters);
  out["readOnly"] = readOnly;
  codec::putOptional(out, "capability", capability);
  codec::putOptional(out, "group", group);
  codec::putOptional(out, "operations", operations);
  return out;
}

ToolCatalogFile ToolCatalogFile::fromJson(const Json& json) {
  codec::expectObject(json, "ToolCatalogFile");
  ToolCatalogFile f;
  f.tools = codec::requiredRecordList<ToolMetadata>(json, "tools");
  f.timestamp = codec::requiredInt(json, "timestamp");
  return f;
}

Json ToolCatalogFile::toJson() const { return Json{{"tools", codec::toJsonList(tools)}, {"timestamp", timestamp}}; }

}  // namespace qd
