// The box answerer that tests, benchmarks and the chaos run share: which button its policy
// presses, when, and what its tally keeps. The benchmarks' verdicts on piled-up boxes and the
// chaos run's box check stand on it.
#include <QtTest>

#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include "support/box_answerer.h"
#include "support/test_environment.h"

namespace {

QMessageBox::StandardButton Ask(const QString &text, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton = QMessageBox::NoButton)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Velvane V1.03"), text, buttons);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

class TestBoxAnswerer : public QObject
{
    Q_OBJECT

private slots:
    void answersByTextThenQueueThenDefault();
    void holdsTheFirstBoxAndTalliesWhatIsOpen();
    void givesEachBoxItsTimeAndClosesOtherDialogs();
};

void TestBoxAnswerer::answersByTextThenQueueThenDefault()
{
    BoxAnswerer boxes(QMessageBox::No);
    boxes.AnswerText(QStringLiteral("log?"), QMessageBox::Yes);
    boxes.Queue(QMessageBox::Cancel);
    const auto yesNo = QMessageBox::Yes | QMessageBox::No;
    QCOMPARE(Ask(QStringLiteral("log?"), yesNo | QMessageBox::Cancel), QMessageBox::Yes);  // the queue waits
    QCOMPARE(Ask(QStringLiteral("a"), yesNo | QMessageBox::Cancel), QMessageBox::Cancel);
    QCOMPARE(Ask(QStringLiteral("b"), yesNo), QMessageBox::No);
    QCOMPARE(Ask(QStringLiteral("c"), QMessageBox::Ok), QMessageBox::Ok);  // No is not there: its only button
    boxes.SetDefaultAnswer(QMessageBox::NoButton);                         // the box's own default
    QCOMPARE(Ask(QStringLiteral("d"), yesNo, QMessageBox::Yes), QMessageBox::Yes);
    int calls = 0;
    boxes.AnswerText(QStringLiteral("log?"), [&calls] { return ++calls == 2 ? QMessageBox::Yes : QMessageBox::No; });
    QCOMPARE(Ask(QStringLiteral("log?"), yesNo), QMessageBox::No);
    QCOMPARE(Ask(QStringLiteral("log?"), yesNo), QMessageBox::Yes);

    QCOMPARE(boxes.Texts(), (QStringList{"log?", "a", "b", "c", "d", "log?", "log?"}));
    QCOMPARE(boxes.Boxes()[0].buttons, yesNo | QMessageBox::Cancel);
    QCOMPARE(boxes.Boxes()[0].caption, QString("Velvane V1.03"));
    QCOMPARE(boxes.LastAnsweredText(), QString("log?"));
    // The tally counts the boxes without an answer of their own for their text.
    QCOMPARE(boxes.Tallied().boxes, 4);
    QCOMPARE(boxes.Tallied().lastText, QString("d"));
    QCOMPARE(boxes.Tallied().maxOpen, 1);
}

void TestBoxAnswerer::holdsTheFirstBoxAndTalliesWhatIsOpen()
{
    constexpr int kHoldMs = 300;
    BoxAnswerer boxes(QMessageBox::NoButton);
    boxes.AnswerText(QStringLiteral("log?"), QMessageBox::No);
    boxes.StartTally(kHoldMs);
    // A question with an answer of its own is not the one held.
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(Ask(QStringLiteral("log?"), QMessageBox::Yes | QMessageBox::No), QMessageBox::No);
    QVERIFY(!boxes.Tallied().heldClosed);

    // While the held box is open, a box over it and the question are answered as they come.
    QMessageBox::StandardButton overIt = QMessageBox::NoButton;
    QMessageBox::StandardButton question = QMessageBox::NoButton;
    QTimer::singleShot(50, this, [&] {
        overIt = Ask(QStringLiteral("over it"), QMessageBox::Ok);
        question = Ask(QStringLiteral("log?"), QMessageBox::Yes | QMessageBox::No);
    });
    clock.restart();
    QCOMPARE(Ask(QStringLiteral("held"), QMessageBox::Ok), QMessageBox::Ok);
    QVERIFY2(clock.elapsed() >= kHoldMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(overIt, QMessageBox::Ok);
    QCOMPARE(question, QMessageBox::No);

    const BoxAnswerer::Tally tally = boxes.EndTally();
    QVERIFY(tally.heldClosed);
    QCOMPARE(tally.boxes, 2);      // "held" and "over it"
    QCOMPARE(tally.whileHeld, 2);  // the held one included
    QCOMPARE(tally.maxOpen, 2);
    QCOMPARE(tally.maxOpenByText.at(QStringLiteral("held")), 1);
    QCOMPARE(tally.lastText, QString("over it"));
    // A new tally holds nothing.
    QCOMPARE(Ask(QStringLiteral("after"), QMessageBox::Ok), QMessageBox::Ok);
    QCOMPARE(boxes.Tallied().boxes, 1);
    QCOMPARE(boxes.Tallied().whileHeld, 0);
    QVERIFY(!boxes.Tallied().heldClosed);
}

void TestBoxAnswerer::givesEachBoxItsTimeAndClosesOtherDialogs()
{
    BoxAnswerer boxes(QMessageBox::Ok);
    QStringList asked;
    boxes.SetHoldTime([&asked](const QString &text) {
        asked << text;
        return text == QStringLiteral("slow") ? 200 : 0;
    });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(Ask(QStringLiteral("slow"), QMessageBox::Ok), QMessageBox::Ok);
    QVERIFY2(clock.elapsed() >= 200, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(Ask(QStringLiteral("quick"), QMessageBox::Ok), QMessageBox::Ok);
    QCOMPARE(asked, (QStringList{"slow", "quick"}));

    // Held boxes stay open until released, whatever their time.
    boxes.Hold(true);
    bool stillOpen = false;
    QTimer::singleShot(100, this, [&] {
        stillOpen = boxes.OpenBoxes() == 1;
        boxes.Hold(false);
    });
    QCOMPARE(Ask(QStringLiteral("quick"), QMessageBox::Ok), QMessageBox::Ok);
    QVERIFY(stillOpen);

    // A modal dialog that is not a message box: left alone unless the caller closes it.
    QStringList others;
    boxes.OnOtherDialog([&others](QDialog *dialog) {
        others << dialog->windowTitle();
        dialog->reject();
    });
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("options"));
    QTimer::singleShot(kPatienceMs, &dialog, &QDialog::accept);  // bound: never hang
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QCOMPARE(others, QStringList{"options"});
    QCOMPARE(boxes.Count(), 3);
}

QTEST_MAIN(TestBoxAnswerer)
#include "test_box_answerer.moc"
