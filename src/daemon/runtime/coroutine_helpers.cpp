#include "daemon/runtime/coroutine_helpers.h"

#include "daemon/logging/logger.h"
#include "daemon/utilities/error.h"

namespace qd {

std::string describeException(const std::exception_ptr& error) {
  if (!error) return "";
  try {
    std::rethrow_exception(error);
  } catch (const Error& e) {
    return e.description();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

void LogTaskFailure::operator()(const std::exception_ptr& error) const {
  if (!error) return;
  Logger::error(component, "Task failed", {{"task", task}, {"error", describeException(error)}});
}

}  // namespace qd
