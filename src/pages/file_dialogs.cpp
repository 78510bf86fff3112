#include "pages/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

namespace FileDialogs {

std::function<Answer(const SaveRequest &)> g_answerSaveFile;
std::function<Answer(const SaveRequest &)> g_answerOpenFile;

QString SuffixOfFilter(const QString &filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([^\\s;)]+)"));
    const QRegularExpressionMatch match = pattern.match(filter);
    return match.hasMatch() ? match.captured(1) : QString();
}

Answer AskSaveFile(const SaveRequest &request)
{
    Answer answer;
    if (g_answerSaveFile) {
        answer = g_answerSaveFile(request);
    } else {
        QString chosen = request.filters.value(0);
        const QString start = QDir::current().absoluteFilePath(request.suggestedName);
        answer.path = QFileDialog::getSaveFileName(request.owner, request.caption, start,
                                                   request.filters.join(QStringLiteral(";;")), &chosen);
        answer.filter = chosen;
    }
    if (answer.path.isEmpty())
        return answer;
    const QString suffix = SuffixOfFilter(answer.filter);
    if (QFileInfo(answer.path).suffix().isEmpty() && !suffix.isEmpty())
        answer.path += QLatin1Char('.') + suffix;
    return answer;
}

Answer AskOpenFile(const SaveRequest &request)
{
    if (g_answerOpenFile)
        return g_answerOpenFile(request);
    Answer answer;
    QString chosen = request.filters.value(0);
    answer.path = QFileDialog::getOpenFileName(request.owner, request.caption, QDir::currentPath(),
                                               request.filters.join(QStringLiteral(";;")), &chosen);
    answer.filter = chosen;
    return answer;
}

}  // namespace FileDialogs
