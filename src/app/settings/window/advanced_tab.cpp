#include "app/settings/window/advanced_tab.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/window_widgets.h"

namespace qd {
namespace {

QLabel* caption(const QString& text, bool bold, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 0.9);
  font.setBold(bold);
  label->setFont(font);
  if (!bold) label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

}  // namespace

AdvancedTab::AdvancedTab(ToolSettingsViewModel& model, QWidget* parent) : QWidget(parent), model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(12);

  layout->addWidget(noteRow(themedIcon(QStringLiteral("dialog-warning"), QStyle::SP_MessageBoxWarning),
                            tr("Warning: Advanced Settings"),
                            tr("These settings can compromise security. Only change if you understand the risks."),
                            this, true));

  auto* manifests = new QGroupBox(tr("Custom Tool Manifests"), this);
  auto* group = new QVBoxLayout(manifests);
  enable_ = new QCheckBox(tr("Enable Custom Tool Manifests"), manifests);
  enable_->setToolTip(tr("Allow loading custom tools from manifest files (dangerous)"));
  group->addWidget(enable_);

  auto* block = new QVBoxLayout;
  block->setSpacing(8);
  block->addWidget(caption(tr("Manifest Directories"), true, manifests));
  block->addWidget(
      caption(tr("Enter paths (one per line) to directories containing custom tool manifest files:"), false, manifests));
  directories_ = new QPlainTextEdit(manifests);
  directories_->setAccessibleName(tr("Manifest Directories"));
  directories_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  directories_->setTabChangesFocus(true);  // keyboard users must be able to leave the editor
  directories_->setMinimumHeight(80);
  directories_->setMaximumHeight(120);
  block->addWidget(directories_);
  group->addLayout(block);

  auto* maxRow = new QHBoxLayout;
  auto* maxLabel = new QLabel(tr("Max Custom Tools"), manifests);
  maxTools_ = new QLineEdit(manifests);
  maxTools_->setFixedWidth(80);
  maxTools_->setPlaceholderText(QStringLiteral("25"));
  maxTools_->setToolTip(tr("Maximum number of custom tools to load"));
  maxTools_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]{0,18}")), maxTools_));
  maxLabel->setBuddy(maxTools_);
  maxRow->addWidget(maxLabel);
  maxRow->addStretch(1);
  maxRow->addWidget(maxTools_);
  group->addLayout(maxRow);
  layout->addWidget(manifests);

  layout->addWidget(noteRow(themedIcon(QStringLiteral("dialog-information"), QStyle::SP_MessageBoxInformation),
                            tr("Security Note"),
                            tr("Custom tools are for development only. They can execute arbitrary code and should only "
                               "be used with trusted manifests."),
                            this));
  layout->addStretch(1);

  connect(enable_, &QCheckBox::toggled, this, [this](bool on) { model_.setEnableCustomToolManifests(on); });
  connect(directories_, &QPlainTextEdit::textChanged, this, [this] {
    std::string text = directories_->toPlainText().toStdString();
    if (text != model_.customToolManifestDirectoriesText()) model_.setCustomToolManifestDirectoriesText(std::move(text));
  });
  connect(maxTools_, &QLineEdit::editingFinished, this, &AdvancedTab::commitMaxCustomTools);
  connect(&model_, &ToolSettingsViewModel::changed, this, &AdvancedTab::showModel);
  showModel();
}

void AdvancedTab::commitMaxCustomTools() {
  bool ok = false;
  const qlonglong value = maxTools_->text().toLongLong(&ok);
  if (!ok) {
    // An empty or lone "-" field is not a number: show the value that stays in force.
    maxTools_->setText(QString::number(model_.maxCustomTools()));
    return;
  }
  if (value != model_.maxCustomTools()) model_.setMaxCustomTools(value);
}

void AdvancedTab::showModel() {
  const bool loaded = model_.settingsLoaded();
  const bool editable = loaded && model_.enableCustomToolManifests();
  {
    const QSignalBlocker blocker(enable_);
    enable_->setChecked(model_.enableCustomToolManifests());
  }
  enable_->setEnabled(loaded);
  const QString directories = QString::fromStdString(model_.customToolManifestDirectoriesText());
  if (directories_->toPlainText() != directories) {
    const QSignalBlocker blocker(directories_);
    directories_->setPlainText(directories);
  }
  directories_->setReadOnly(!editable);
  directories_->setEnabled(editable);
  // Leave a field being edited alone; its text is committed on Enter or focus loss.
  if (!maxTools_->hasFocus()) maxTools_->setText(QString::number(model_.maxCustomTools()));
  maxTools_->setEnabled(editable);
}

}  // namespace qd
