// Which operation name reaches which note-app handler.

#include "daemon/tinderbox/note_app_operations.h"

namespace qd {

NoteAppSettings noteAppSettingsFrom(const Configuration& configuration) {
  NoteAppSettings settings;
  settings.subprocessTimeout = configuration.subprocessTimeout();
  settings.exportsDir = configuration.exportsDir();
  return settings;
}

asio::awaitable<std::optional<Json>> NoteAppOperations::perform(std::string operation, Json arguments) {
  if (operation == "build_tinderbox_note_url") co_return co_await buildNoteURL(std::move(arguments));
  if (operation == "open_tinderbox_url") co_return co_await openURL(std::move(arguments));
  std::string successText;
  if (operation == "navigate_to_note") successText = "Navigated to note";
  if (operation == "navigate_to_note_view") successText = "Navigated to note/view";
  if (operation == "set_tinderbox_view") successText = "Set Tinderbox view";
  if (!successText.empty()) co_return co_await navigateToNote(std::move(arguments), std::move(successText));
  if (operation == "copy_tinderbox_view") co_return co_await copyView(std::move(arguments));
  if (operation == "open_tinderbox_document") co_return co_await openDocument(std::move(arguments));
  if (operation == "save_tinderbox_document") co_return co_await saveDocument(std::move(arguments));
  if (operation == "close_tinderbox_document") co_return co_await closeDocument(std::move(arguments));
  if (operation == "list_tinderbox_windows") co_return co_await listWindows(std::move(arguments));
  if (operation == "select_tinderbox_note") co_return co_await selectNote(std::move(arguments));
  if (operation == "delete_note") co_return co_await deleteNotes(std::move(arguments));
  if (operation == "note_exists") co_return co_await noteExists(std::move(arguments));
  if (operation == "export_document") co_return co_await exportDocument(std::move(arguments));
  if (operation == "export_note") co_return co_await exportNote(std::move(arguments));
  if (operation == "print_note") co_return co_await printNote(std::move(arguments));
  if (operation == "print_document") co_return co_await printDocument(std::move(arguments));
  co_return std::nullopt;
}

}  // namespace qd
