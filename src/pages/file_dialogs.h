#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// The one way the program asks the user for a file to write. Tests answer it instead of a
// user, as they answer message boxes.
namespace FileDialogs {

struct SaveRequest
{
    QWidget *owner = nullptr;
    QString caption;
    QString suggestedName;  // in the current directory unless a path
    QStringList filters;    // "抓包文件 (*.pcap)"; the first is the default
};

struct Answer
{
    QString path;    // empty: the user cancelled
    QString filter;  // the filter chosen
};

// Asks for a file to save to. A name typed without a suffix gets the chosen filter's.
Answer AskSaveFile(const SaveRequest &request);

// Asks for an existing file to read (the suggested name and the suffix rule do not apply).
Answer AskOpenFile(const SaveRequest &request);

// While set, called instead of showing the dialog (its answer is used as the user's).
extern std::function<Answer(const SaveRequest &)> g_answerSaveFile;
extern std::function<Answer(const SaveRequest &)> g_answerOpenFile;

// The suffix of a filter's first pattern, "pcap" of "抓包文件 (*.pcap)"; empty for "*".
QString SuffixOfFilter(const QString &filter);

}  // namespace FileDialogs
