// The window's look in one place: the background colour every window of the
// program is painted in, the small font of the status lines, hover labels and
// message dialogs (its lines must fit the dialogs' 13-pixel pitch), and the
// conversions between the core's Latin-1 texts and Qt's strings.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <string>

namespace kestro::gui {

// Red 199, green 199, blue 208.
QColor BackgroundColour();
// Distance between two lines of a message dialog.
inline constexpr int kLinePitch = 13;
// The largest font of the application's family whose lines fit kLinePitch.
QFont SmallFont();

// A text of the core (Latin-1 bytes).
QString FromLatin1(const std::string& text);
std::string ToLatin1(const QString& text);
// A title, performer or genre as the player stores it (its own codes for
// accented letters).
QString ShownSongText(const std::string& playerText);
// A path of the file system (UTF-8) and back.
QString FromPath(const std::string& path);
std::string ToPath(const QString& path);

}  // namespace kestro::gui
