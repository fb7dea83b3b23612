// Every tool the daemon offers on its socket must pass the official MCP SDK's Tool schema
// and compile as JSON Schema: a client that rejects one tool's schema may hide every tool
// of the server. Starts the daemon (dev tier, every switchable tool on) in a temporary
// HOME, asks list_tools over the raw socket, checks each tool, then stops the daemon.
// Usage: node list_tools_schema_check.mjs <daemon executable>

import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import net from "node:net";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
if (!existsSync(join(here, "node_modules", "@modelcontextprotocol", "sdk"))) {
  console.error(`interop: ${join(here, "node_modules")} lacks @modelcontextprotocol/sdk; run "npm ci" in ${here}`);
  process.exit(1);
}
const { ToolSchema } = await import("@modelcontextprotocol/sdk/types.js");
const { default: Ajv } = await import("ajv");

const daemonPath = process.argv[2];
assert.ok(daemonPath && existsSync(daemonPath), `daemon executable not found: ${daemonPath}`);

const home = mkdtempSync(join(tmpdir(), "qd-schema-"));
const env = {
  ...process.env,
  HOME: home,
  XDG_DATA_HOME: join(home, "data"),
  XDG_STATE_HOME: join(home, "state"),
  XDG_CONFIG_HOME: join(home, "config"),
  XDG_CACHE_HOME: join(home, "cache"),
  TINDERBOX_FEATURE_TIER: "dev",
  TINDERBOX_DISABLE_APP_LAUNCH: "1",
  TINDERBOX_DISABLE: "1",
};
const appFolder = join(home, "data", "QuarvelDorarov");
mkdirSync(appFolder, { recursive: true, mode: 0o700 });
const everyTool = {};
for (const name of ["calendar", "tasks", "workstreams", "jobs", "print_document", "tbx_nav", "tbx_doc", "tbx_export",
                    "identify", "notify", "agents", "log_message", "sync_claude_hook", "health_check", "daemon_self_check"]) {
  everyTool[name] = true;
}
writeFileSync(join(appFolder, "tool-settings.json"), JSON.stringify({ helperToolEnabled: everyTool }));
const socketPath = join(appFolder, "daemon.sock");

const daemon = spawn(daemonPath, ["--daemon"], { env, stdio: ["ignore", "ignore", "pipe"] });
let stderr = "";
daemon.stderr.on("data", (chunk) => { stderr += chunk; });

function connectWhenListening(deadline) {
  return new Promise((resolve, reject) => {
    const attempt = () => {
      const socket = net.createConnection(socketPath);
      socket.once("connect", () => resolve(socket));
      socket.once("error", () => {
        socket.destroy();
        if (Date.now() > deadline || daemon.exitCode !== null) reject(new Error(`daemon not listening; stderr:\n${stderr}`));
        else setTimeout(attempt, 20);
      });
    };
    attempt();
  });
}

function request(socket, line) {
  return new Promise((resolve, reject) => {
    let buffer = "";
    const onData = (chunk) => {
      buffer += chunk;
      const end = buffer.indexOf("\n");
      if (end < 0) return;
      socket.off("data", onData);
      resolve(JSON.parse(buffer.slice(0, end)));
    };
    socket.on("data", onData);
    socket.once("error", reject);
    socket.write(line + "\n");
  });
}

let failures = [];
try {
  const socket = await connectWhenListening(Date.now() + 60000);
  const reply = await request(socket, JSON.stringify({ method: "list_tools", _requestId: 1 }));
  socket.end();
  assert.ok(Array.isArray(reply.tools), `list_tools answered ${JSON.stringify(reply)}`);
  // At least the eleven helper tools; every provider tool registered is checked as well.
  assert.ok(reply.tools.length >= 11, `only ${reply.tools.length} tools offered`);
  const ajv = new Ajv({ strict: false });
  for (const tool of reply.tools) {
    const parsed = ToolSchema.safeParse(tool);
    if (!parsed.success) failures.push(`${tool.name}: SDK Tool schema: ${parsed.error.message}`);
    try {
      ajv.compile(tool.inputSchema);
    } catch (error) {
      failures.push(`${tool.name}: not a JSON Schema: ${error.message}`);
    }
    if (tool.inputSchema?.type !== "object") failures.push(`${tool.name}: input schema type is not "object"`);
  }
  console.log(`checked ${reply.tools.length} tools`);
} catch (error) {
  failures.push(String(error));
} finally {
  daemon.kill("SIGTERM");
  await new Promise((resolve) => (daemon.exitCode !== null ? resolve() : daemon.once("exit", resolve)));
  rmSync(home, { recursive: true, force: true });
}
if (failures.length > 0) {
  console.error(failures.join("\n"));
  process.exit(1);
}
