#pragma once

// Small pieces the settings tabs share: themed icons with a fallback, the note row (an
// icon beside a bold title over a caption), and a row that pushes a button to the
// trailing edge.

#include <QIcon>
#include <QStyle>
#include <QString>
#include <QWidget>

#include <filesystem>

class QAbstractButton;
class QLayout;

namespace qd {

// The XDG icon-theme icon, else the style's standard icon.
QIcon themedIcon(const QString& themeName, QStyle::StandardPixmap fallback);

// An icon beside a column of a bold title over a caption in the secondary colour.
QWidget* noteRow(const QIcon& icon, const QString& title, const QString& text, QWidget* parent,
                 bool subheadlineTitle = false);

// A horizontal layout with a flexible space, then the button.
QLayout* trailingRow(QAbstractButton* button);

// The path with the home folder written as "~".
QString homeRelativePath(const std::filesystem::path& path, const std::filesystem::path& home);

}  // namespace qd
