#pragma once

#include <QList>
#include <QWidget>

class QLabel;

// A status bar split into parts at fixed right edges (-1: up to the right border),
// each with a text and optionally an icon.
class PartStatusBar : public QWidget
{
    Q_OBJECT

public:
    explicit PartStatusBar(QWidget *parent = nullptr);

    void SetParts(const QList<int> &rightEdges);
    QList<int> RightEdges() const { return m_rightEdges; }

    void SetText(int part, const QString &text);
    QString Text(int part) const;
    void SetIcon(int part, const QIcon &icon);
    bool HasIcon(int part) const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void PlaceParts();

    QList<int> m_rightEdges;
    QList<QLabel *> m_icons;
    QList<QLabel *> m_texts;
};
