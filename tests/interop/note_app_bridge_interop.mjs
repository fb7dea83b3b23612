// The whole road: the official MCP TypeScript SDK's Client drives
// `QuarvelDorarovDaemon --client --profile tinderbox` over stdio, through a real daemon
// that supervises the reference server (@modelcontextprotocol/server-everything) as its
// note app, and lists and calls the server's tools.
// Usage: node note_app_bridge_interop.mjs <QuarvelDorarovDaemon executable>
// Exits 0 when every check passes, 1 with a message otherwise.

import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { createConnection } from "node:net";
import { chmodSync, existsSync, rmSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

import { daemonHome } from "./daemon_home.mjs";
import { Client, StdioClientTransport } from "./sdk_client.mjs";

const program = process.argv[2];
assert.ok(program && existsSync(program), `daemon program not found: ${program}`);
const server = join(dirname(fileURLToPath(import.meta.url)),
                    "node_modules/@modelcontextprotocol/server-everything/dist/index.js");
assert.ok(existsSync(server), "run npm ci in tests/interop");

// The wrapper execs the server, so the server is the daemon's direct child.
const { home, socketPath, env } = daemonHome("qd-road", { TINDERBOX_DISABLE: "0" });
const wrapper = join(home, "note-app");
env.TINDERBOX_MCP_PATH = wrapper;
writeFileSync(wrapper, `#!/bin/sh\nexec "${process.execPath}" "${server}" stdio\n`);
chmodSync(wrapper, 0o700);

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The names the daemon lists on its socket right now (one list_tools line, one reply line).
function daemonToolNames() {
  return new Promise((resolve, reject) => {
    const socket = createConnection(socketPath);
    let buffer = "";
    socket.on("error", reject);
    socket.on("connect", () => socket.write(JSON.stringify({ method: "list_tools", _requestId: 1 }) + "\n"));
    socket.on("data", (d) => {
      buffer += d;
      const end = buffer.indexOf("\n");
      if (end < 0) return;
      socket.destroy();
      resolve((JSON.parse(buffer.slice(0, end)).tools ?? []).map((t) => t.name));
    });
  });
}

const daemon = spawn(program, ["--daemon"], { env, stdio: ["ignore", "ignore", "pipe"] });
let daemonStderr = "";
daemon.stderr.on("data", (d) => (daemonStderr += d));
const exited = new Promise((resolve) => daemon.on("close", (status) => resolve(status)));

const complaints = [];
try {
  for (let i = 0; i < 600 && !existsSync(socketPath); i++) await sleep(50);
  assert.ok(existsSync(socketPath), "the daemon did not create its socket");

  // The daemon connects to its note app in the background once it listens; a bridge offers
  // the tools the daemon lists when the bridge starts, so it starts once they are there.
  let listed = [];
  for (let i = 0; i < 600 && !listed.includes("echo"); i++) {
    listed = await daemonToolNames();
    if (!listed.includes("echo")) await sleep(100);
  }
  assert.ok(listed.includes("echo"), `the daemon lists the note app's echo tool: ${listed.join(", ")}`);

  const client = new Client({ name: "sdk-road", version: "1.0.0" }, { capabilities: {} });
  client.onerror = (error) => complaints.push(String(error));
  await client.connect(new StdioClientTransport({
    command: program, args: ["--client", "--profile", "tinderbox"], env, stderr: "pipe",
  }));
  const names = (await client.listTools()).tools.map((t) => t.name);
  // The note app's tools under their own names, without the daemon's.
  for (const name of ["echo", "get-sum"]) assert.ok(names.includes(name), `${name} is offered: ${names.join(", ")}`);
  assert.ok(!names.includes("health_check"), `the daemon's tools are not offered: ${names.join(", ")}`);

  const reply = await client.callTool({ name: "echo", arguments: { message: "through the road" } });
  assert.notEqual(reply.isError, true, JSON.stringify(reply));
  assert.equal(reply.content[0].text, "Echo: through the road");

  await client.close();
  daemon.kill("SIGTERM");
  assert.equal(await exited, 0, daemonStderr);
  assert.deepEqual(complaints, [], "the SDK reported protocol errors");
  console.log("sdk client through --client --profile tinderbox to the note app: all checks passed");
} catch (error) {
  console.error("interop failure:", error);
  console.error("daemon stderr:", daemonStderr);
  process.exitCode = 1;
} finally {
  if (daemon.exitCode === null) {
    daemon.kill("SIGTERM");
    await exited;
  }
  rmSync(home, { recursive: true, force: true });
  process.exit(process.exitCode ?? 0);
}
