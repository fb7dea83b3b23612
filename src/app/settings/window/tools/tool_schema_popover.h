#pragma once

// The schema of one tool in a popup: its name, read/write badge, whether the schema is live
// (from the running daemon's catalog) or built in, its description, its input parameters
// and the name an AI client calls. The content is built once from the catalog as it stands
// when the popup opens. It is 400x300 and scrolls; Escape or a click outside closes it,
// and closed() then lets the opener return focus to the tool's row.

#include <QFrame>
#include <QString>

namespace qd {

class ToolMetadataFetcher;

class ToolSchemaPopover : public QFrame {
  Q_OBJECT

 public:
  static constexpr QSize popoverSize{400, 300};

  ToolSchemaPopover(const QString& toolName, const ToolMetadataFetcher& fetcher, QWidget* parent = nullptr);

  const QString& toolName() const { return toolName_; }
  // Opens beside the anchor (global coordinates) on its trailing side, kept on the screen.
  void showBeside(const QRect& anchor);
  // Where it was last shown beside (global coordinates).
  const QRect& anchor() const { return anchor_; }

 signals:
  void closed();

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  QString toolName_;
  QRect anchor_;
};

}  // namespace qd
