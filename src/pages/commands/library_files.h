#pragma once

#include <QtGlobal>

class CommandLibrary;
class QWidget;

// 导入… / 导出…: the whole command library as a JSON file the user chooses. Every failure is a
// box naming the file and the reason; a failed import leaves the library as it was.
namespace LibraryFiles {

inline constexpr char kFilter[] = "命令库 (*.json)";
// A library file is text of at most this size; anything larger is not one.
inline constexpr qint64 kMaxFileSize = qint64(256) << 20;

// False when the user cancelled or it failed (the box has been shown).
bool Import(CommandLibrary &library, QWidget *owner);
bool Export(const CommandLibrary &library, QWidget *owner);

}  // namespace LibraryFiles
