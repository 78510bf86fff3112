#include "pages/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

namespace FileDialogs {

std::function<Answer(const SaveRequest &)> g_answerSaveFile;

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

}  // namespace FileDialogs
