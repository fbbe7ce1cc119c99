#include "ui/FeedForm.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "UiTestSupport.h"

class FeedFormTest : public QObject {
    Q_OBJECT

private:
    // Runs the dialog with the given texts, presses OK once, and closes it if it stayed open.
    int RunWithOk(TfrmFeed& form, const QString& url, const QString& name) {
        form.edtURL->setText(url);
        form.edtName->setText(name);
        WhenModal([&form](QWidget&) {
            form.btnOK->click();
            if (form.isVisible())
                form.reject();
        });
        return form.exec();
    }

private slots:
    void controls() {
        TfrmFeed form;
        QCOMPARE(form.windowTitle(), QString("Feed"));
        QCOMPARE(form.size(), QSize(432, 189));
        QCOMPARE(form.cbxAggInclude->text(), QString("Include into aggregated views"));
        QCOMPARE(form.cbxShowAuthor->text(), QString("Show extended author names"));
        QVERIFY(form.btnOK->isDefault());
        QVERIFY(!(form.btnOK->focusPolicy() & Qt::TabFocus));
        QVERIFY(!(form.btnCancel->focusPolicy() & Qt::TabFocus));
        QVERIFY(form.findChild<QLineEdit*>("edtURL"));
    }

    void blankUrlIsRefusedAndTheDialogStaysOpen() {
        TScriptedMessages messages;
        TfrmFeed form;
        QCOMPARE(RunWithOk(form, " \t ", "Name"), int(QDialog::Rejected));
        QCOMPARE(messages.Shown, std::vector<std::string>{"Please specify a feed URL"});
        QCOMPARE(form.edtName->text(), QString("Name"));
    }

    void defaultNameIsTheHostAndValuesStayUntrimmed() {
        TScriptedMessages messages;
        TfrmFeed form;
        QCOMPARE(RunWithOk(form, "http://127.0.0.1:8080/rss.xml", "  "), int(QDialog::Accepted));
        QCOMPARE(form.edtName->text(), QString("127.0.0.1"));
        QCOMPARE(RunWithOk(form, "localhost/feed:81", ""), int(QDialog::Accepted));
        QCOMPARE(form.edtName->text(), QString("localhost"));
        QCOMPARE(RunWithOk(form, " http://127.0.0.1/a ", " My feed "), int(QDialog::Accepted));
        QCOMPARE(form.edtURL->text(), QString(" http://127.0.0.1/a "));
        QCOMPARE(form.edtName->text(), QString(" My feed "));
        QVERIFY(messages.Shown.empty());
        QVERIFY(messages.Asked.empty());
    }

    void liveJournalCorrection() {
        TScriptedMessages messages;
        TfrmFeed form;
        messages.Answers = {true};
        QCOMPARE(RunWithOk(form, "http://someone.livejournal.com", ""), int(QDialog::Accepted));
        QCOMPARE(messages.Asked,
                 std::vector<std::string>{"Do you want to correct URL to LiveJournal RSS feed?"});
        QCOMPARE(form.edtURL->text(), QString("http://someone.livejournal.com/data/rss/"));
        // The default name comes from the corrected address.
        QCOMPARE(form.edtName->text(), QString("someone.livejournal.com"));

        messages.Answers = {false};
        QCOMPARE(RunWithOk(form, "http://someone.livejournal.com/", "N"), int(QDialog::Accepted));
        QCOMPARE(form.edtURL->text(), QString("http://someone.livejournal.com/"));

        // Already a feed address, or livejournal only in the path: no question.
        messages.Asked.clear();
        QCOMPARE(RunWithOk(form, "http://someone.livejournal.com/Data/RSS", "N"), int(QDialog::Accepted));
        QCOMPARE(RunWithOk(form, "http://127.0.0.1/livejournal/", "N"), int(QDialog::Accepted));
        QVERIFY(messages.Asked.empty());
    }

    // Secure addresses are taken as typed; a browser's "feed:" form becomes the address it stands
    // for, after the LiveJournal correction and before the default name.
    void schemes() {
        TScriptedMessages messages;
        TfrmFeed form;
        QCOMPARE(RunWithOk(form, "HTTPS://127.0.0.1/rss", ""), int(QDialog::Accepted));
        QCOMPARE(form.edtURL->text(), QString("HTTPS://127.0.0.1/rss"));
        QCOMPARE(form.edtName->text(), QString("127.0.0.1"));
        QCOMPARE(RunWithOk(form, "feed://127.0.0.1/rss", "N"), int(QDialog::Accepted));
        QCOMPARE(form.edtURL->text(), QString("http://127.0.0.1/rss"));
        QCOMPARE(RunWithOk(form, "Feed:https://127.0.0.1:8443/rss", ""), int(QDialog::Accepted));
        QCOMPARE(form.edtURL->text(), QString("https://127.0.0.1:8443/rss"));
        QCOMPARE(form.edtName->text(), QString("127.0.0.1"));
        QVERIFY(messages.Asked.empty());

        messages.Answers = {true};
        QCOMPARE(RunWithOk(form, "feed:https://someone.livejournal.com", ""), int(QDialog::Accepted));
        QCOMPARE(messages.Asked.size(), size_t(1));
        QCOMPARE(form.edtURL->text(), QString("https://someone.livejournal.com/data/rss/"));
        QCOMPARE(form.edtName->text(), QString("someone.livejournal.com"));
        QVERIFY(messages.Shown.empty());
    }

    void cancelChecksNothing() {
        TScriptedMessages messages;
        TfrmFeed form;
        form.edtURL->setText("");
        WhenModal([&form](QWidget&) { form.btnCancel->click(); });
        QCOMPARE(form.exec(), int(QDialog::Rejected));
        form.edtURL->setText("http://a.livejournal.com");
        WhenModal([](QWidget& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
        QCOMPARE(form.exec(), int(QDialog::Rejected));
        QVERIFY(messages.Shown.empty());
        QVERIFY(messages.Asked.empty());
    }

    void enterPressesOk() {
        TScriptedMessages messages;
        TfrmFeed form;
        form.edtURL->setText("http://127.0.0.1/x");
        form.edtName->setText("");
        WhenModal([&form](QWidget&) { QTest::keyClick(form.edtURL, Qt::Key_Return); });
        QCOMPARE(form.exec(), int(QDialog::Accepted));
        QCOMPARE(form.edtName->text(), QString("127.0.0.1"));
    }
};

TOVEL_UI_TEST_MAIN(FeedFormTest)
#include "FeedFormTest.moc"
