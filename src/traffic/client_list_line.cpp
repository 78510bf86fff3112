#include "traffic/client_list_line.h"

QByteArray ClientListLine(QByteArrayView peerText, int id)
{
    return peerText.toByteArray() + '-' + QByteArray::number(id);
}

int IdOfClientLine(const QByteArray &line)
{
    const qsizetype hyphen = line.lastIndexOf('-');
    if (hyphen < 0)
        return -1;
    bool ok = false;
    const int id = line.mid(hyphen + 1).toInt(&ok);
    return ok ? id : -1;
}
