#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The local host as the pages see it: its name and its IPv4 addresses in dotted form,
// in the order they are listed.
struct HostEntry
{
    QString name;
    QStringList addresses;
};

// The local host as the process keeps it, set once at start-up; null when it could not be
// looked up.
extern HostEntry *g_pHostEntry;

// The host name, or nothing when the system cannot tell it.
std::optional<QString> LocalHostName();

// The addresses the resolver gives for the name, then those of every interface that is up
// (loopback included), without duplicates.
HostEntry ResolveHostEntry(const QString &hostName);
