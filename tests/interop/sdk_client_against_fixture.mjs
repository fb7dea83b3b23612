// The official MCP TypeScript SDK's Client drives our fixture server (built with our
// MCPServer) over stdio. Usage: node sdk_client_against_fixture.mjs <fixture-program>
// Exits 0 when every check passes, 1 with a message otherwise.

import assert from "node:assert/strict";
import { existsSync } from "node:fs";
import { Client, StdioClientTransport } from "./sdk_client.mjs";

const fixture = process.argv[2];
assert.ok(fixture && existsSync(fixture), `fixture program not found: ${fixture}`);

const complaints = [];
const client = new Client({ name: "sdk-interop", version: "1.0.0" }, { capabilities: {} });
client.onerror = (error) => complaints.push(String(error));
const transport = new StdioClientTransport({ command: fixture, args: [], stderr: "pipe" });

try {
  // The SDK asks for its latest version; our server answers "2024-11-05", which it accepts.
  await client.connect(transport);
  assert.deepEqual(client.getServerVersion(), { name: "qd-fixture", version: "1.0.0" });
  assert.ok(client.getServerCapabilities().tools, "tools capability announced");

  const { tools } = await client.listTools();
  assert.deepEqual(tools.map((t) => t.name).sort(), ["echo", "fail", "slow"]);

  const echo = await client.callTool({ name: "echo", arguments: { text: "hello" } });
  assert.deepEqual(echo.content, [{ type: "text", text: "hello" }]);

  const failed = await client.callTool({ name: "fail", arguments: {} });
  assert.equal(failed.isError, true);
  assert.equal(failed.content[0].text, "Error: the fail tool always fails");

  await assert.rejects(client.callTool({ name: "no-such-tool", arguments: {} }), (error) => {
    assert.equal(error.code, -32602);
    assert.match(error.message, /Unknown tool: no-such-tool/);
    return true;
  });

  // 200 calls at once, slow ones mixed in; each answer must reach its own caller.
  const calls = [];
  for (let i = 0; i < 200; i++) {
    calls.push(
      i % 10 === 0
        ? client.callTool({ name: "slow", arguments: { ms: 200 - i } }).then((r) => [r, `done after ${200 - i}ms`])
        : client.callTool({ name: "echo", arguments: { text: `call-${i}` } }).then((r) => [r, `call-${i}`]),
    );
  }
  for (const [result, expected] of await Promise.all(calls)) assert.equal(result.content[0].text, expected);

  await client.ping();
  assert.deepEqual(complaints, [], "the SDK reported protocol errors");
  console.log("sdk client against fixture: all checks passed");
} catch (error) {
  console.error("interop failure:", error);
  process.exitCode = 1;
} finally {
  await client.close();
}
