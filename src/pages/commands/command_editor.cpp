#include "pages/commands/command_editor.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "pages/traffic_area/send_options_form.h"
#include "widgets/encoding_box.h"

CommandEditor::CommandEditor(const Command &command, QWidget *owner)
    : QDialog(owner)
    , m_id(command.id)
    , m_name(new QLineEdit(command.name))
    , m_text(new QPlainTextEdit(command.text))
    , m_hex(new QCheckBox(QStringLiteral("16进制")))
    , m_encoding(new EncodingBox)
    , m_options(new SendOptionsForm)
    , m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel))
{
    setObjectName(QStringLiteral("commandEditor"));
    setWindowTitle(command.id == 0 ? QStringLiteral("新建命令") : QStringLiteral("编辑命令"));
    m_name->setObjectName(QStringLiteral("commandName"));
    m_name->setMaxLength(CommandLibrary::kMaxTextLength);
    m_text->setObjectName(QStringLiteral("commandText"));
    m_hex->setObjectName(QStringLiteral("commandHex"));
    m_hex->setChecked(command.hex);
    m_encoding->setObjectName(QStringLiteral("commandEncoding"));
    m_encoding->SetEncoding(command.encoding);
    m_options->SetOptions(command.options);

    auto *fields = new QFormLayout;
    fields->addRow(QStringLiteral("名称:"), m_name);
    fields->addRow(QStringLiteral("内容:"), m_text);
    fields->addRow(m_hex);
    fields->addRow(QStringLiteral("编码:"), m_encoding);
    auto *options = new QGroupBox(QStringLiteral("发送选项"));
    (new QVBoxLayout(options))->addWidget(m_options);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(options);
    layout->addWidget(m_buttons);

    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_name, &QLineEdit::textChanged, this, &CommandEditor::OnNameChanged);
    OnNameChanged();
}

void CommandEditor::OnNameChanged()
{
    // The list and the sequences name a command by its name: it cannot be empty.
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!m_name->text().trimmed().isEmpty());
}

Command CommandEditor::Edited() const
{
    Command command;
    command.id = m_id;
    command.name = m_name->text().trimmed();
    command.text = m_text->toPlainText();
    command.hex = m_hex->isChecked();
    command.encoding = m_encoding->Encoding();
    command.options = m_options->Options();
    return command;
}

bool CommandEditor::Edit(Command &command, QWidget *owner)
{
    CommandEditor editor(command, owner);
    if (editor.exec() != QDialog::Accepted)
        return false;
    command = editor.Edited();
    return true;
}
