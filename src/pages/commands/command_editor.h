#pragma once

#include <QDialog>

#include "traffic/commands/command_library.h"

class EncodingBox;
class QCheckBox;
class QDialogButtonBox;
class QLineEdit;
class QPlainTextEdit;
class SendOptionsForm;

// The small modal editor of one command: its name, text, mode, encoding and send options.
class CommandEditor : public QDialog
{
    Q_OBJECT

public:
    CommandEditor(const Command &command, QWidget *owner);

    // The command as edited; its id is the one it was opened with.
    Command Edited() const;

    // Opens the editor on command; true, with command changed, when the user said OK.
    static bool Edit(Command &command, QWidget *owner);

private:
    void OnNameChanged();

    quint64 m_id;
    QLineEdit *m_name;
    QPlainTextEdit *m_text;
    QCheckBox *m_hex;
    EncodingBox *m_encoding;
    SendOptionsForm *m_options;
    QDialogButtonBox *m_buttons;
};
