// The pinned official MCP SDK's client classes, from node_modules here. Without them the
// importing script fails at once and says how to install them.

import { existsSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
if (!existsSync(join(here, "node_modules", "@modelcontextprotocol", "sdk"))) {
  console.error(`interop: ${join(here, "node_modules")} lacks @modelcontextprotocol/sdk; run "npm ci" in ${here}`);
  process.exit(1);
}
export const { Client } = await import("@modelcontextprotocol/sdk/client/index.js");
export const { StdioClientTransport } = await import("@modelcontextprotocol/sdk/client/stdio.js");
