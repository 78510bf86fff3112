#include "widgets/ipv4_address_edit.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "text/ipv4_address_text.h"

namespace {

const QRegularExpression kOctet(QStringLiteral("25[0-5]|2[0-4][0-9]|[01]?[0-9]?[0-9]"));

}  // namespace

Ipv4AddressEdit::Ipv4AddressEdit(QWidget *parent)
    : QFrame(parent)
{
    // Looks like one edit box, as the fields are parts of one address.
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 0, 1, 0);
    layout->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto *dot = new QLabel(QStringLiteral("."), this);
            dot->setFixedWidth(dot->sizeHint().width());
            layout->addWidget(dot);
        }
        auto *field = new QLineEdit(this);
        field->setFrame(false);
        // Room for three digits, QLineEdit's own 2-pixel side margins and the cursor.
        field->setMinimumWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("000")) + 6);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(3);
        // QIntValidator lets 256..999 through as intermediate input; this refuses them.
        field->setValidator(new QRegularExpressionValidator(kOctet, field));
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i] { OnFieldEdited(i); });
        connect(field, &QLineEdit::textChanged, this, &Ipv4AddressEdit::AddressChanged);
        layout->addWidget(field, 1);
        m_fields[i] = field;
    }
    // Never narrower than four readable numbers, whatever width the placement asks for.
    setMinimumWidth(minimumSizeHint().width());
    setFocusProxy(m_fields[0]);
}

void Ipv4AddressEdit::SetAddressText(const QString &dotted)
{
    const auto numbers = ParseIpv4AddressText(dotted);
    for (int i = 0; i < 4; ++i)
        m_fields[i]->setText(numbers ? QString::number((*numbers)[i]) : QString());
}

QString Ipv4AddressEdit::AddressText() const
{
    std::array<QString, 4> texts;
    for (int i = 0; i < 4; ++i)
        texts[i] = m_fields[i]->text();
    return Ipv4AddressTextOfFields(texts);
}

void Ipv4AddressEdit::SetReadOnly(bool readOnly)
{
    for (QLineEdit *field : m_fields)
        field->setReadOnly(readOnly);
}

bool Ipv4AddressEdit::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Period) {
        for (int i = 0; i < 3; ++i)
            if (watched == m_fields[i] && !m_fields[i]->text().isEmpty())
                FocusField(i + 1);
        return true;  // the validator would refuse the dot anyway
    }
    return QFrame::eventFilter(watched, event);
}

void Ipv4AddressEdit::OnFieldEdited(int index)
{
    if (index < 3 && m_fields[index]->text().size() == 3)
        FocusField(index + 1);
}

void Ipv4AddressEdit::FocusField(int index)
{
    m_fields[index]->setFocus();
    m_fields[index]->selectAll();
}
