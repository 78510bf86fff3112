#include "pages/commands/command_prompts.h"

#include <QInputDialog>

#include "pages/commands/command_editor.h"

CommandPrompts CommandPrompts::Modal(QWidget *owner)
{
    CommandPrompts prompts;
    prompts.editCommand = [owner](Command &command) { return CommandEditor::Edit(command, owner); };
    prompts.askName = [owner](const QString &title, QString &name) {
        bool ok = false;
        const QString given = QInputDialog::getText(owner, title, QStringLiteral("名称:"), QLineEdit::Normal, name, &ok)
                                  .trimmed();
        if (!ok || given.isEmpty())
            return false;
        name = given;
        return true;
    };
    return prompts;
}
