#include "daemon/providers/application_providers.h"

#include "daemon/providers/bookends_provider.h"
#include "daemon/providers/calendar_provider.h"
#include "daemon/providers/contacts_provider.h"
#include "daemon/providers/devonthink_provider.h"
#include "daemon/providers/mail_provider.h"
#include "daemon/providers/maps_provider.h"
#include "daemon/providers/messages_provider.h"
#include "daemon/providers/notes_provider.h"
#include "daemon/providers/omnifocus_provider.h"
#include "daemon/providers/reminders_provider.h"
#include "daemon/providers/time_provider.h"

namespace qd {

ProviderServices systemProviderServices(BlockingPool& pool) {
  ProviderServices services;
  services.scriptRunner = std::make_shared<OsascriptRunner>(pool);
  services.blockingPool = &pool;
  services.calendarStores = platform::makeSystemCalendarStore;
  services.contactStores = platform::makeSystemContactStore;
  return services;
}

std::vector<std::shared_ptr<ToolProvider>> makeApplicationProviders(const ProviderServices& services) {
  std::vector<std::shared_ptr<ToolProvider>> providers;
  providers.push_back(std::make_shared<BookendsProvider>("bookends", FeatureTier::beta, services.scriptRunner));
  providers.push_back(
      std::make_shared<OmniFocusProvider>("omnifocus_consolidated", FeatureTier::beta, services.scriptRunner));
  providers.push_back(std::make_shared<DevonThinkProvider>("devonthink", FeatureTier::dev, services.scriptRunner));
  providers.push_back(
      std::make_shared<TimeToolProvider>("time-server", FeatureTier::beta, "America/Halifax", *services.clock));
  providers.push_back(std::make_shared<ContactsToolProvider>("contacts", FeatureTier::dev, services.contactStores));
  providers.push_back(std::make_shared<NotesToolProvider>("notes", FeatureTier::dev, services.scriptRunner));
  providers.push_back(std::make_shared<MessagesToolProvider>("messages", FeatureTier::dev, services.scriptRunner,
                                                             *services.blockingPool, services.environment));
  providers.push_back(std::make_shared<MailToolProvider>("mail", FeatureTier::dev, services.scriptRunner));
  providers.push_back(std::make_shared<RemindersToolProvider>("reminders", FeatureTier::dev, services.scriptRunner));
  providers.push_back(
      std::make_shared<CalendarToolProvider>("calendar", FeatureTier::dev, services.calendarStores, *services.clock));
  providers.push_back(std::make_shared<MapsToolProvider>("maps", FeatureTier::dev, services.scriptRunner));
  return providers;
}

}  // namespace qd
