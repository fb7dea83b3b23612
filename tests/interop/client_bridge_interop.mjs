// The official MCP TypeScript SDK's Client drives `QuarvelDorarovDaemon --client` over
// stdio against a real daemon that this script starts in a temporary HOME (and restarts
// under the running bridge), and the one-shot modes run against the same daemon.
// Usage: node client_bridge_interop.mjs <QuarvelDorarovDaemon executable>
// Exits 0 when every check passes, 1 with a message otherwise.

import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { existsSync, rmSync } from "node:fs";
import { join } from "node:path";

import { daemonHome } from "./daemon_home.mjs";
import { Client, StdioClientTransport } from "./sdk_client.mjs";

const program = process.argv[2];
assert.ok(program && existsSync(program), `daemon program not found: ${program}`);

// "notify" is offered from the beta tier on.
const { home, socketPath, env } = daemonHome("qd-bridge", { TINDERBOX_FEATURE_TIER: "beta" });

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Runs the program to its end: {status, stdout, stderr}.
function run(args, { input = "", extraEnv = {} } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { env: { ...env, ...extraEnv }, stdio: ["pipe", "pipe", "pipe"] });
    let stdout = "";
    let stderr = "";
    child.stdout.on("data", (d) => (stdout += d));
    child.stderr.on("data", (d) => (stderr += d));
    child.on("error", reject);
    child.on("close", (status) => resolve({ status, stdout, stderr }));
    child.stdin.end(input);
  });
}

function startDaemon() {
  const daemon = spawn(program, ["--daemon"], { env, stdio: ["ignore", "ignore", "pipe"] });
  let stderr = "";
  daemon.stderr.on("data", (d) => (stderr += d));
  const exited = new Promise((resolve) => daemon.on("close", (status) => resolve(status)));
  return { daemon, exited, stderr: () => stderr };
}

async function waitForSocket() {
  for (let i = 0; i < 600 && !existsSync(socketPath); i++) await sleep(50);
  assert.ok(existsSync(socketPath), "the daemon did not create its socket");
}

function bridgeTransport(profile) {
  const args = ["--client"];
  if (profile) args.push("--profile", profile);
  return new StdioClientTransport({ command: program, args, env, stderr: "pipe" });
}

let first = startDaemon();
const complaints = [];
try {
  await waitForSocket();

  // The bridge as an AI client sees it.
  const client = new Client({ name: "sdk-interop", version: "1.0.0" }, { capabilities: {} });
  client.onerror = (error) => complaints.push(String(error));
  await client.connect(bridgeTransport());
  assert.deepEqual(client.getServerVersion(), { name: "quarvel-toolbox", version: "2.0.0" });
  assert.ok(client.getServerCapabilities().tools, "tools capability announced");

  const { tools } = await client.listTools();
  const names = tools.map((t) => t.name);
  assert.ok(names.includes("health_check"), `health_check is offered: ${names.join(", ")}`);

  const health = await client.callTool({ name: "health_check", arguments: {} });
  assert.notEqual(health.isError, true, JSON.stringify(health));
  assert.equal(health.content[0].type, "text");

  // 200 calls at once on the one daemon connection, each answered to its own caller.
  const results = await Promise.all(
    Array.from({ length: 200 }, () => client.callTool({ name: "health_check", arguments: {} })),
  );
  for (const result of results) assert.notEqual(result.isError, true, JSON.stringify(result));

  // A name the bridge does not offer: the bridge's own refusal, or an error result.
  try {
    const unknown = await client.callTool({ name: "no_such_tool", arguments: {} });
    assert.equal(unknown.isError, true);
  } catch (error) {
    assert.equal(error.code, -32602);
    assert.match(error.message, /Unknown tool: no_such_tool/);
  }

  // A UTF-16 surrogate without its partner goes out as a \u escape (valid JSON): it reads
  // as U+FFFD and the call is answered to its caller like any other.
  const lone = await client.callTool({ name: "time_now", arguments: { timezone: "Mars\uD83D" } });
  assert.notEqual(lone.isError, true, JSON.stringify(lone));
  assert.equal(lone.content[0].text, "Invalid timezone: Mars\uFFFD");

  // The router-core profile offers the router's own tools.
  const core = new Client({ name: "sdk-interop-core", version: "1.0.0" }, { capabilities: {} });
  await core.connect(bridgeTransport("router-core"));
  const coreNames = (await core.listTools()).tools.map((t) => t.name);
  assert.ok(coreNames.includes("health_check"), `router-core offers health_check: ${coreNames.join(", ")}`);
  await core.close();

  // Closing standard input ends a bridge with status 0.
  const closed = await run(["--client"]);
  assert.equal(closed.status, 0, `--client at the end of its input: ${closed.stderr}`);
  assert.equal(closed.stdout, "");

  // One-shot modes against the running daemon.
  const hook = await run(["--sync-hook"], { input: "  \n" });
  assert.equal(hook.status, 0, hook.stderr);
  assert.match(hook.stderr, /sync-hook received empty or invalid JSON payload/);
  // The notification reaches the daemon, which refuses it: a one-shot connection has no
  // agent identity to send from.
  const notify = await run(["--notify", "--agents", "researcher", "--data", '{"message":"hello"}']);
  assert.equal(notify.status, 1, `--notify: ${notify.stdout} ${notify.stderr}`);
  assert.equal(notify.stdout, "Error: Daemon error: Agent not identified - call identify tool first\n");
  const badData = await run(["--notify", "--agents", "researcher", "--data", "[1]"]);
  assert.equal(badData.status, 1);
  assert.equal(badData.stdout, "Error: Invalid JSON data\n");

  // The bridge sends a request line of up to 1 MiB minus the daemon's 64 KiB read, so
  // that one read after it always fits the daemon's 1 MiB. A call whose line to the
  // daemon is `delta` bytes off that bound (give or take the digits of its request id):
  const bound = 1024 * 1024 - 64 * 1024;
  const lineTo = (delta) => {
    const empty = { method: "call_tool", _requestId: 999, params: { name: "health_check", arguments: { text: "" } } };
    const text = "x".repeat(bound + delta - JSON.stringify(empty).length - 1);
    return client.callTool({ name: "health_check", arguments: { text } });
  };
  // Lines just under the bound go out while calls of 200 KB are in flight: all answered.
  const near = await Promise.all(
    Array.from({ length: 6 }, (_, i) =>
      i % 2 ? lineTo(-8) : client.callTool({ name: "health_check", arguments: { text: "y".repeat(200000) } }),
    ),
  );
  for (const result of near) assert.notEqual(result.isError, true, JSON.stringify(result).slice(0, 200));
  // Just over it, or far over, a call fails alone, with the limit named.
  const farOver = client.callTool({ name: "health_check", arguments: { text: "x".repeat(5 * 1024 * 1024) } });
  for (const refused of await Promise.all([lineTo(8), farOver])) {
    assert.equal(refused.isError, true, JSON.stringify(refused).slice(0, 200));
    assert.equal(refused.content[0].text, "Error: Request too large for the daemon (over 1 MiB)");
  }
  const afterHuge = await client.callTool({ name: "health_check", arguments: {} });
  assert.notEqual(afterHuge.isError, true, JSON.stringify(afterHuge));

  // The daemon restarts with calls in flight: they end as error results, the bridge stays
  // up, and a call made while the daemon is away reaches the new one.
  const inFlight = Array.from({ length: 50 }, () => client.callTool({ name: "health_check", arguments: {} }));
  first.daemon.kill("SIGTERM");
  assert.equal(await first.exited, 0, first.stderr());
  const settled = await Promise.all(inFlight);
  for (const result of settled) {
    if (result.isError) assert.match(result.content[0].text, /^Error: /);
  }
  const duringRestart = client.callTool({ name: "health_check", arguments: {} });
  first = startDaemon();
  await waitForSocket();
  let afterRestart = await duringRestart;
  if (afterRestart.isError) afterRestart = await client.callTool({ name: "health_check", arguments: {} });
  assert.notEqual(afterRestart.isError, true, JSON.stringify(afterRestart));
  await client.ping();
  await client.close();
  first.daemon.kill("SIGTERM");
  assert.equal(await first.exited, 0, first.stderr());

  // No daemon: a one-shot mode fails after the connection time-out.
  const unreachable = await run(["--stop-tinderbox"], { extraEnv: { TINDERBOX_CONNECTION_TIMEOUT: "1000" } });
  assert.equal(unreachable.status, 1);
  assert.equal(unreachable.stdout, "Error: Failed to connect to daemon\n");
  // ... and a bridge says so on standard error, never on its MCP channel.
  const noDaemon = await run(["--client"], { extraEnv: { TINDERBOX_CONNECTION_TIMEOUT: "1000" } });
  assert.equal(noDaemon.status, 1);
  assert.equal(noDaemon.stdout, "");
  assert.match(noDaemon.stderr, /Error: Failed to connect to daemon/);

  assert.deepEqual(complaints, [], "the SDK reported protocol errors");
  console.log("sdk client through --client: all checks passed");
} catch (error) {
  console.error("interop failure:", error);
  console.error("daemon stderr:", first.stderr());
  process.exitCode = 1;
} finally {
  if (first.daemon.exitCode === null) {
    first.daemon.kill("SIGTERM");
    await first.exited;
  }
  rmSync(home, { recursive: true, force: true });
  // A failed check can leave a bridge child or a pending call behind: do not wait for them.
  process.exit(process.exitCode ?? 0);
}
