#pragma once

#include <QFrame>

#include <array>

class QLineEdit;

// An IPv4 address entry: four number fields of 0..255 with dots between them, in one frame.
// Typing a dot or a third digit moves on to the next field.
class Ipv4AddressEdit : public QFrame
{
    Q_OBJECT

public:
    explicit Ipv4AddressEdit(QWidget *parent = nullptr);

    // Shows "a.b.c.d"; an empty or malformed text clears all four fields.
    void SetAddressText(const QString &dotted);
    // "" when every field is blank, else "a.b.c.d" with blank fields read as 0.
    QString AddressText() const;

    void SetReadOnly(bool readOnly);

signals:
    // Any field's text changed, by the user or by SetAddressText.
    void AddressChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void OnFieldEdited(int index);
    void FocusField(int index);

    std::array<QLineEdit *, 4> m_fields{};
};
