#pragma once

// Agent records as the settings window's model layer knows them, and a view model that is
// state only: nothing in the application creates or shows it, and the daemon's admin
// channel has no method for agents. The records are coded like the daemon's
// registered-agent record (UUID text, dates as seconds since 2001-01-01T00:00:00Z), so a
// daemon record decodes; its "secretHash" and "salt" are ignored.

#include <QObject>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "daemon/security/agent_registry.h"
#include "daemon/security/secret_hasher.h"
#include "daemon/utilities/json.h"

namespace qd {

struct CategoryPermissionData {
  bool read = false;
  bool write = false;

  static CategoryPermissionData fromJson(const Json& json);  // both keys required
  Json toJson() const;
};

struct ToolPolicyData {
  std::map<std::string, CategoryPermissionData> categoryPermissions;

  static ToolPolicyData fromJson(const Json& json);  // "categoryPermissions" required
  Json toJson() const;
};

struct AgentInfo {
  Uuid id;
  std::string name;
  AgentDate createdAt;
  std::optional<AgentDate> lastAuthAt;
  bool isActive = true;
  ToolPolicyData toolPolicy;

  // Every key but "lastAuthAt" required; throws DecodingError.
  static AgentInfo fromJson(const Json& json);
  Json toJson() const;  // "lastAuthAt" only when present
};

// GUI thread. Each setter assigns and emits its own signal, then changed().
class AgentManagementViewModel : public QObject {
  Q_OBJECT

 public:
  explicit AgentManagementViewModel(QObject* parent = nullptr) : QObject(parent) {}

  const std::vector<AgentInfo>& agents() const { return agents_; }
  const std::optional<Uuid>& selectedAgentId() const { return selectedAgentId_; }
  const std::string& statusMessage() const { return statusMessage_; }
  bool isLoading() const { return isLoading_; }
  bool showCreateSheet() const { return showCreateSheet_; }
  bool showRegenerateConfirmation() const { return showRegenerateConfirmation_; }
  bool showDeleteConfirmation() const { return showDeleteConfirmation_; }

  void setAgents(std::vector<AgentInfo> value);
  void setSelectedAgentId(std::optional<Uuid> value);
  void setStatusMessage(std::string value);
  void setIsLoading(bool value);
  void setShowCreateSheet(bool value);
  void setShowRegenerateConfirmation(bool value);
  void setShowDeleteConfirmation(bool value);

 signals:
  void agentsChanged();
  void selectedAgentIdChanged();
  void statusMessageChanged();
  void isLoadingChanged();
  void showCreateSheetChanged();
  void showRegenerateConfirmationChanged();
  void showDeleteConfirmationChanged();
  void changed();

 private:
  template <typename T>
  void publish(T& field, T value, void (AgentManagementViewModel::*signal)()) {
    field = std::move(value);
    emit(this->*signal)();
    emit changed();
  }

  std::vector<AgentInfo> agents_;
  std::optional<Uuid> selectedAgentId_;
  std::string statusMessage_;
  bool isLoading_ = false;
  bool showCreateSheet_ = false;
  bool showRegenerateConfirmation_ = false;
  bool showDeleteConfirmation_ = false;
};

}  // namespace qd
