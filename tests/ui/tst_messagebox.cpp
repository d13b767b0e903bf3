// Message boxes: the hook sees every request with its defaulted caption,
// answers for the user, and the real box maps flags to buttons and icons.

#include "ui/messagebox.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TestMessageBox : public QObject {
    Q_OBJECT

private slots:
    void recorderSeesExactRequest_data();
    void recorderSeesExactRequest();
    void afxMessageBoxUsesDefaultCaption();
    void recorderAnswersAndRestores();
    void nestedRecordersRestoreInOrder();
    void realBoxShowsFlags_data();
    void realBoxShowsFlags();
};

void TestMessageBox::recorderSeesExactRequest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<uint>("type");
    QTest::addColumn<QString>("expectedCaption");
    QTest::addColumn<uint>("icon");
    QTest::addColumn<uint>("buttons");
    QTest::newRow("invalid password") << "Invalid password"
                                      << "Warning" << uint(MB_ICONEXCLAMATION) << "Warning" << uint(MB_ICONEXCLAMATION)
                                      << uint(MB_OK);
    QTest::newRow("wink refused, default caption") << "Device does not support wink."
                                                   << "" << uint(MB_OK) << "SorvindaConfig" << 0u << uint(MB_OK);
    QTest::newRow("question with yes/no")
        << "Sure?"
        << "" << uint(MB_YESNO | MB_ICONQUESTION) << "SorvindaConfig" << uint(MB_ICONQUESTION) << uint(MB_YESNO);
    QTest::newRow("markup is just text") << "<b>x</b>"
                                         << "" << uint(MB_OK) << "SorvindaConfig" << 0u << uint(MB_OK);
}

void TestMessageBox::recorderSeesExactRequest()
{
    QFETCH(QString, text);
    QFETCH(QString, caption);
    QFETCH(uint, type);
    QFETCH(QString, expectedCaption);
    QFETCH(uint, icon);
    QFETCH(uint, buttons);
    MessageBoxRecorder recorder;
    QWidget owner;
    QCOMPARE(ShowMessageBox(&owner, text, caption, type), IDOK);
    QCOMPARE(recorder.Count(), 1);
    const MessageBoxRequest& r = recorder.Records().front();
    QCOMPARE(r.text, text);
    QCOMPARE(r.caption, expectedCaption);
    QCOMPARE(r.Icon(), icon);
    QCOMPARE(r.Buttons(), buttons);
    QCOMPARE(r.parent.data(), &owner);
}

void TestMessageBox::afxMessageBoxUsesDefaultCaption()
{
    MessageBoxRecorder recorder;
    AfxMessageBox(QStringLiteral("DHCP server init failed"));
    QCOMPARE(recorder.Count(), 1);
    QCOMPARE(recorder.Records()[0].caption, QStringLiteral("SorvindaConfig"));
    QCOMPARE(recorder.Records()[0].type, MB_OK);
}

void TestMessageBox::recorderAnswersAndRestores()
{
    {
        MessageBoxRecorder recorder(IDNO);
        QCOMPARE(AfxMessageBox(QStringLiteral("q"), MB_YESNO), IDNO);
        recorder.SetAnswer(IDYES);
        QCOMPARE(AfxMessageBox(QStringLiteral("q"), MB_YESNO), IDYES);
        QCOMPARE(recorder.Count(), 2);
    }
    // The recorder is gone: a hook installed now is the only one called.
    int calls = 0;
    SetMessageBoxHook([&calls](const MessageBoxRequest&) {
        ++calls;
        return IDCANCEL;
    });
    QCOMPARE(AfxMessageBox(QStringLiteral("x")), IDCANCEL);
    QCOMPARE(calls, 1);
    SetMessageBoxHook({});
}

void TestMessageBox::nestedRecordersRestoreInOrder()
{
    MessageBoxRecorder outer;
    {
        MessageBoxRecorder inner;
        AfxMessageBox(QStringLiteral("inner"));
        QCOMPARE(inner.Count(), 1);
    }
    AfxMessageBox(QStringLiteral("outer"));
    QCOMPARE(outer.Count(), 1);
    QCOMPARE(outer.Records()[0].text, QStringLiteral("outer"));
}

void TestMessageBox::realBoxShowsFlags_data()
{
    QTest::addColumn<uint>("type");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttonCount");
    QTest::addColumn<int>("answerOfEscape");
    QTest::newRow("exclamation OK") << uint(MB_ICONEXCLAMATION) << int(QMessageBox::Warning) << 1 << IDOK;
    QTest::newRow("plain OK") << uint(MB_OK) << int(QMessageBox::NoIcon) << 1 << IDOK;
    QTest::newRow("information OK/Cancel")
        << uint(MB_OKCANCEL | MB_ICONINFORMATION) << int(QMessageBox::Information) << 2 << IDCANCEL;
    QTest::newRow("error yes/no") << uint(MB_YESNO | MB_ICONERROR) << int(QMessageBox::Critical) << 2 << IDNO;
}

void TestMessageBox::realBoxShowsFlags()
{
    QFETCH(uint, type);
    QFETCH(int, icon);
    QFETCH(int, buttonCount);
    QFETCH(int, answerOfEscape);
    SetMessageBoxHook({});
    QString seenTitle;
    QString seenText;
    int seenIcon = -1;
    int seenButtons = -1;
    bool found = false;
    // Inspect the real box from inside its own modal loop, then press Escape.
    std::function<void()> inspect = [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            QTimer::singleShot(10, inspect);
            return;
        }
        found = true;
        seenTitle = box->windowTitle();
        seenText = box->text();
        seenIcon = box->icon();
        seenButtons = static_cast<int>(box->buttons().size());
        QTest::keyClick(box, Qt::Key_Escape);
    };
    QTimer::singleShot(0, inspect);
    const int answer = ShowMessageBox(nullptr, QStringLiteral("<i>Text</i>"), QString(), type);
    QVERIFY(found);
    QCOMPARE(seenTitle, QStringLiteral("SorvindaConfig"));
    QCOMPARE(seenText, QStringLiteral("<i>Text</i>"));
    QCOMPARE(seenIcon, icon);
    QCOMPARE(seenButtons, buttonCount);
    QCOMPARE(answer, answerOfEscape);
}

QTEST_MAIN(TestMessageBox)
#include "tst_messagebox.moc"
