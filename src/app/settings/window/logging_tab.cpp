#include "app/settings/window/logging_tab.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/settings/tool_settings_view_model.h"
#include "app/settings/window/window_widgets.h"
#include "platform/user_folders.h"

namespace qd {
namespace {

struct Destination {
  LoggingSinkMode mode;
  const char* label;  // shown verbatim
};
constexpr std::array<Destination, 4> kDestinations{{
    {LoggingSinkMode::off, "Off"},
    {LoggingSinkMode::file, "File"},
    {LoggingSinkMode::tinderbox, "Tinderbox"},
    {LoggingSinkMode::both, "File + Tinderbox"},
}};

// A segment of the picker: Left and Right choose the neighbouring segment, as in a
// segmented control, instead of only moving the focus.
class Segment : public QPushButton {
 public:
  Segment(const QString& text, QButtonGroup* group, QWidget* parent) : QPushButton(text, parent), group_(group) {
    setCheckable(true);
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const int step = event->key() == Qt::Key_Right ? 1 : event->key() == Qt::Key_Left ? -1 : 0;
    if (step == 0) return QPushButton::keyPressEvent(event);
    const auto buttons = group_->buttons();
    const qsizetype next = buttons.indexOf(this) + step;
    if (next < 0 || next >= buttons.size()) return;
    buttons[next]->setFocus(Qt::TabFocusReason);
    buttons[next]->click();
  }

 private:
  QButtonGroup* group_;
};

}  // namespace

QString LoggingTab::destinationsText(const platform::Environment& environment) {
  const auto file = platform::applicationSupportDirectory(environment) / "tool-calls.log";
  const QString shown = homeRelativePath(file, platform::homeDirectory(environment));
  return QStringLiteral("\u2022 Off: No logging\n\u2022 File: Write to %1\n"
                        "\u2022 Tinderbox: Create notes in Tinderbox\n\u2022 Both: Write to file and Tinderbox")
      .arg(shown);
}

LoggingTab::LoggingTab(ToolSettingsViewModel& model, const platform::Environment& environment, QWidget* parent)
    : QWidget(parent), model_(model) {
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(12);

  auto* intro = new QLabel(tr("Configure where and how tool calls are logged."), this);
  intro->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(intro);

  auto* logging = new QGroupBox(tr("Tool-Call Logging"), this);
  auto* form = new QFormLayout(logging);
  enable_ = new QCheckBox(tr("Enable Tool-Call Logging"), logging);
  enable_->setToolTip(tr("Log all tool calls made through the toolbox"));
  form->addRow(enable_);

  auto* picker = new QWidget(logging);
  picker->setToolTip(tr("Choose where to write tool-call logs"));
  picker->setAccessibleName(tr("Log Destination"));
  auto* pickerLayout = new QHBoxLayout(picker);
  pickerLayout->setContentsMargins(0, 0, 0, 0);
  pickerLayout->setSpacing(0);
  destinations_ = new QButtonGroup(this);
  destinations_->setExclusive(true);
  for (std::size_t i = 0; i < kDestinations.size(); ++i) {
    auto* segment = new Segment(QString::fromUtf8(kDestinations[i].label), destinations_, picker);
    destinations_->addButton(segment, static_cast<int>(i));
    pickerLayout->addWidget(segment);
    segments_[i] = segment;
  }
  form->addRow(tr("Log Destination"), picker);
  layout->addWidget(logging);

  layout->addWidget(noteRow(themedIcon(QStringLiteral("dialog-information"), QStyle::SP_MessageBoxInformation),
                            tr("Log Destinations"), destinationsText(environment), this));

  openFolder_ = new QPushButton(tr("Open Logs Folder..."), this);
  auto* openRow = new QHBoxLayout;
  openRow->addWidget(openFolder_);
  openRow->addStretch(1);
  layout->addLayout(openRow);
  layout->addStretch(1);

  connect(enable_, &QCheckBox::toggled, this, [this](bool on) { model_.setEnableToolCallLogging(on); });
  connect(destinations_, &QButtonGroup::idClicked, this, [this](int id) {
    if (id >= 0 && id < static_cast<int>(kDestinations.size()) && model_.loggingSinkMode() != kDestinations[id].mode) {
      model_.setLoggingSinkMode(kDestinations[id].mode);
    }
  });
  connect(openFolder_, &QPushButton::clicked, this, [this] { model_.openLogsDirectory(); });
  connect(&model_, &ToolSettingsViewModel::changed, this, &LoggingTab::showModel);
  showModel();
}

void LoggingTab::showModel() {
  const bool loaded = model_.settingsLoaded();
  {
    const QSignalBlocker blocker(enable_);
    enable_->setChecked(model_.enableToolCallLogging());
  }
  enable_->setEnabled(loaded);
  for (std::size_t i = 0; i < kDestinations.size(); ++i) {
    const QSignalBlocker blocker(segments_[i]);
    segments_[i]->setChecked(kDestinations[i].mode == model_.loggingSinkMode());
    segments_[i]->setEnabled(loaded && model_.enableToolCallLogging());
  }
}

}  // namespace qd
