// A temporary HOME for a daemon that interop scripts start, and the environment it runs
// with: XDG folders inside it, its own socket, no tray application, a rate limit one busy
// bridge connection stays under (the default allows 300 lines a minute), and the
// sanitizers' options passed on. `extra` overrides or adds variables.
import { mkdirSync, mkdtempSync } from "node:fs";
import { join } from "node:path";

export function daemonHome(prefix, extra = {}) {
  // A short folder: the socket path must stay under the socket address limit.
  const home = mkdtempSync(`/tmp/${prefix}-`);
  for (const sub of [".config", ".local/share", ".local/state", ".cache"]) mkdirSync(join(home, sub), { recursive: true });
  const socketPath = join(home, "daemon.sock");
  const env = {
    PATH: process.env.PATH,
    HOME: home,
    XDG_CONFIG_HOME: join(home, ".config"),
    XDG_DATA_HOME: join(home, ".local/share"),
    XDG_STATE_HOME: join(home, ".local/state"),
    XDG_CACHE_HOME: join(home, ".cache"),
    TINDERBOX_SOCKET_PATH: socketPath,
    TINDERBOX_DISABLE: "1",
    TINDERBOX_DISABLE_APP_LAUNCH: "1",
    TINDERBOX_RATE_LIMIT_REQUESTS: "10000",
    TINDERBOX_CONNECTION_TIMEOUT: "10000",
    ...extra,
  };
  if (process.env.ASAN_OPTIONS) env.ASAN_OPTIONS = process.env.ASAN_OPTIONS;
  if (process.env.UBSAN_OPTIONS) env.UBSAN_OPTIONS = process.env.UBSAN_OPTIONS;
  return { home, socketPath, env };
}
