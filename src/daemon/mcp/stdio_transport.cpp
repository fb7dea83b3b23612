#include "daemon/mcp/stdio_transport.h"

#include <array>
#include <csignal>
#include <system_error>

#include <asio/redirect_error.hpp>
#include <asio/use_awaitable.hpp>

#include "daemon/logging/logger.h"
#include "daemon/mcp/transport_error.h"
#include "daemon/runtime/child_exit.h"
#include "daemon/runtime/coroutine_helpers.h"
#include "daemon/runtime/text_trim.h"
#include "daemon/utilities/unicode_text.h"

namespace qd {
namespace {

constexpr const char* component = "StdioTransport";

// Logs each chunk of the child's standard error; bytes that are not UTF-8 are ignored.
asio::awaitable<void> logStandardError(std::shared_ptr<asio::posix::stream_descriptor> stream) {
  auto buffer = std::make_unique<std::array<char, 65536>>();
  while (stream->is_open()) {
    std::error_code ec;
    const std::size_t n =
        co_await stream->async_read_some(asio::buffer(*buffer), asio::redirect_error(asio::use_awaitable, ec));
    const std::string_view chunk(buffer->data(), n);
    if (n > 0 && unicode::isValidUtf8(chunk)) Logger::debug(component, "stderr: " + trimWhitespaceAndNewlines(chunk));
    if (ec) break;
  }
}

}  // namespace

// The child's standard output: every line to the client, then, when the output ended by
// itself rather than by close(), the end reported. A line over the limit ends the child.
asio::awaitable<void> StdioTransport::readChildOutput(std::shared_ptr<asio::posix::stream_descriptor> stream,
                                                      MessageHandler onMessage, std::function<void()> onEnded,
                                                      std::shared_ptr<OutputState> state) {
  LineLimit limit{maxLineBytes, [stream, state](OversizedLine line) {
                    if (line.ended || state->closing || !state->child) return;
                    Logger::error(component, "Process output line too long, stopping the process",
                                  {{"pid", state->child->pid()},
                                   {"maxLineBytes", static_cast<std::int64_t>(maxLineBytes)}});
                    state->child->signalGroup(SIGKILL);
                    std::error_code ignored;
                    stream->close(ignored);  // nothing more is read of it
                  }};
  co_await readLines(stream, std::move(onMessage), nullptr, std::move(limit));
  if (!state->closing && onEnded) onEnded();
}

namespace {

void cancelStream(const std::shared_ptr<asio::posix::stream_descriptor>& stream) {
  if (!stream) return;
  std::error_code ignored;
  stream->cancel(ignored);
}

void closeStream(std::shared_ptr<asio::posix::stream_descriptor>& stream) {
  if (!stream) return;
  std::error_code ignored;
  stream->close(ignored);
  stream.reset();
}

}  // namespace

StdioTransport::StdioTransport(asio::any_io_executor executor, std::string command, std::vector<std::string> arguments,
                               std::optional<std::map<std::string, std::string>> environment,
                               std::chrono::milliseconds terminationGrace, std::optional<int> parentDeathSignal)
    : executor_(std::move(executor)),
      command_(std::move(command)),
      arguments_(std::move(arguments)),
      environment_(std::move(environment)),
      terminationGrace_(terminationGrace),
      parentDeathSignal_(parentDeathSignal) {}

void StdioTransport::setInputEndedHandler(std::function<void()> handler) { onInputEnded_ = std::move(handler); }

StdioTransport::~StdioTransport() {
  output_->closing = true;
  output_->child = nullptr;
  closeStream(stdout_);
  closeStream(stderr_);
  if (stdin_) stdin_->close();
  // A transport dropped without close(): the child's destructor kills its group and reaps it.
}

asio::awaitable<void> StdioTransport::start(MessageHandler onMessage) {
  SpawnOptions options = spawnOptions(command_, arguments_);
  options.environmentOverlay = environment_;
  options.parentDeathSignal = parentDeathSignal_;
  try {
    process_ = ChildProcess::spawn(options);
  } catch (const ChildProcessError& e) {
    throw TransportError::processStartFailed(e.description());
  }
  UniqueFd in = process_->takeStdin(), out = process_->takeStdout(), err = process_->takeStderr();
  stdin_ = std::make_shared<LineWriter>(executor_, tryReactorDescriptor(executor_, in));
  stdout_ = tryReactorDescriptor(executor_, out);
  stderr_ = tryReactorDescriptor(executor_, err);
  isRunning_ = true;
  output_->child = process_.get();
  if (stdout_) {
    startTask(executor_, readChildOutput(stdout_, std::move(onMessage), onInputEnded_, output_), component,
              "read child stdout");
  }
  if (stderr_) startTask(executor_, logStandardError(stderr_), component, "read child stderr");
  Logger::info(component, "Process started", {{"command", command_}, {"pid", process_->pid()}});
  co_return;
}

asio::awaitable<void> StdioTransport::send(std::string message) {
  if (!stdin_ || !isRunning_) throw TransportError::connectionClosed();
  auto writer = stdin_;
  co_await sendLine(std::move(writer), std::move(message));
}

asio::awaitable<void> StdioTransport::close() {
  // Reading stops first, but our pipe ends stay open until the child has ended: closing
  // them now would kill a child that writes while it shuts down with SIGPIPE.
  output_->closing = true;
  output_->child = nullptr;
  isRunning_ = false;
  cancelStream(stdout_);
  cancelStream(stderr_);
  // Taken out first, so a second close() running meanwhile finds no child.
  std::unique_ptr<ChildProcess> child = std::move(process_);
  if (child) {
    if (!child->hasExited()) {
      const pid_t pid = child->pid();
      const double graceSeconds = std::chrono::duration<double>(terminationGrace_).count();
      std::function<void()> beforeKill = [pid, graceSeconds] {
        Logger::warn(component, "Process did not exit after terminate, sending SIGKILL",
                     {{"pid", pid}, {"timeoutSeconds", graceSeconds}});
      };
      const auto outcome = co_await stopProcessGroupAsync(*child, terminationGrace_, std::move(beforeKill));
      Logger::info(component, "Process terminated", {{"exitCode", outcome.status.code}, {"layer", "transport"}});
    } else {
      child->reap();
    }
    if (!child->exitStatus()) reapInBackground(std::move(child));
  }
  closeStream(stdout_);
  closeStream(stderr_);
  if (stdin_) {
    stdin_->close();
    stdin_.reset();
  }
}

bool StdioTransport::processIsRunning() const { return process_ && !process_->hasExited(); }

std::optional<pid_t> StdioTransport::processPID() const {
  if (!process_) return std::nullopt;
  return process_->pid();
}

}  // namespace qd
