// velvane-cli started as a child process by the tests.
#pragma once

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <functional>

#include "event_wait.h"

// Every stdout line of a --json run as a JSON object; false on a line that is none.
inline bool CliJsonEvents(const QByteArray &out, QList<QJsonObject> &events)
{
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        events << QJsonDocument::fromJson(line, &error).object();
        if (error.error != QJsonParseError::NoError)
            return false;
    }
    return true;
}

// Starts the CLI and waits for its first line, which names the bound port.
struct CliProcess
{
    QProcess process;
    QByteArray firstLine;

    // childSetup runs in the child before the CLI starts (to change its stdout, say).
    explicit CliProcess(const QStringList &args, const std::function<void()> &childSetup = {})
    {
        if (childSetup)
            process.setChildProcessModifier(childSetup);
        process.start(QStringLiteral(VELVANE_CLI_PATH), args);
        process.waitForStarted(kPatienceMs);
    }
    bool WaitForFirstLine()
    {
        QElapsedTimer clock;
        clock.start();
        while (!process.canReadLine() && clock.elapsed() < kPatienceMs)
            process.waitForReadyRead(100);
        firstLine = process.readLine();
        return !firstLine.isEmpty();
    }
    quint16 PortOfTextLine() const
    {
        return quint16(QRegularExpression(QStringLiteral(":(\\d+)$"))
                           .match(QString::fromUtf8(firstLine).trimmed())
                           .captured(1)
                           .toUInt());
    }
    int Finish()
    {
        if (!process.waitForFinished(kPatienceMs))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    }
};
