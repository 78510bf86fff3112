#pragma once

#include <QString>

#include <functional>

#include "traffic/commands/command_library.h"

class QWidget;

// The modal questions the command window asks; tests answer them in the user's place.
struct CommandPrompts
{
    // Edits command in place; false when the user cancelled.
    std::function<bool(Command &command)> editCommand;
    // Asks for a name (a group's, a sequence's), name holding the current one; false when
    // the user cancelled. The name given is never empty.
    std::function<bool(const QString &title, QString &name)> askName;

    // The modal editor and a line-input dialog, owned by owner.
    static CommandPrompts Modal(QWidget *owner);
};
