#include "ui/About.h"

#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "UiTestSupport.h"

namespace {

TProductInfo Info(const std::string& title) {
    TProductInfo info;
    info.Title = title;
    info.Version = "1.00";
    info.SiteURL = "https://tovelsoft.example/";
    info.ContactsURL = "https://tovelsoft.example/contacts/";
    info.Company = "Tovelsoft";
    info.LegalNotice = "Copyright (c) Tovelsoft. All rights reserved.";
    return info;
}

bool Fits(const QLabel* label) {
    return label->width() <= 260 && label->height() <= 35;
}

} // namespace

class AboutTest : public QObject {
    Q_OBJECT

private slots:
    void ShowsTheProductInformationInItsControls() {
        TAboutForm form(Info("Tovel"));
        QCOMPARE(form.windowTitle(), QString("About"));
        QCOMPARE(form.size(), QSize(352, 243));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QCOMPARE(form.lblProduct->text(), QString("Tovel"));
        QCOMPARE(form.lblVersion->text(), QString("Version: 1.00"));
        QCOMPARE(form.Label2->text(), QString("Contacts:"));
        QCOMPARE(form.lblMail->text(), QString("https://tovelsoft.example/contacts/"));
        QCOMPARE(form.Label3->text(), QString("Website:"));
        QCOMPARE(form.lblSite->text(), QString("https://tovelsoft.example/"));
        QCOMPARE(form.lblCopyright->text(), QString("Copyright (c) Tovelsoft. All rights reserved."));
        QCOMPARE(form.btnClose->text(), QString("Close"));
        QVERIFY(!form.ProductImage->pixmap().isNull());

        // Texts are shown as written, never as markup.
        TAboutForm marked(Info("<b>Bold</b>"));
        QCOMPARE(marked.lblProduct->textFormat(), Qt::PlainText);
    }

    void UsesTheFontsOfItsDesign() {
        TAboutForm form(Info("Tovel"));
        const QFont title = form.lblProduct->font();
        QCOMPARE(title.family(), QString("Arial"));
        QCOMPARE(title.pixelSize(), 27);
        QVERIFY(title.bold() && title.underline());
        QCOMPARE(form.lblVersion->font().pixelSize(), 12);
        QVERIFY(form.lblVersion->font().bold());
        for (const QLabel* label : {form.Label2, form.Label3}) {
            QCOMPARE(label->font().pixelSize(), 12);
            QVERIFY(!label->font().bold());
        }
        for (const QLabel* label : {form.lblMail, form.lblSite}) {
            QCOMPARE(label->font().pixelSize(), 12);
            QVERIFY(label->font().underline());
            QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::blue));
            QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        }
        QCOMPARE(form.lblCopyright->font().pixelSize(), 11);
        QCOMPARE(form.lblCopyright->width(), 352);
        QVERIFY(form.lblCopyright->alignment() & Qt::AlignHCenter);
    }

    void ATitleTooBigLosesOnePointAtATimeUntilItFits() {
        TAboutForm fits(Info("Tovel"));
        QVERIFY(Fits(fits.lblProduct));
        QCOMPARE(fits.lblProduct->font().pixelSize(), 27);

        for (const std::string title : {"Tovel RSS Reader for the whole family", "A much longer title than "
                                                                                 "fits at any size so "
                                                                                 "wide"}) {
            TAboutForm form(Info(title));
            QVERIFY(Fits(form.lblProduct));
            const int points = QFontInfo(form.lblProduct->font()).pointSize();
            QVERIFY(points < QFontInfo(fits.lblProduct->font()).pointSize());
            // One point larger would not have fitted: the loop stopped at the first size that fits.
            QLabel larger;
            QFont font = form.lblProduct->font();
            font.setPointSize(points + 1);
            larger.setFont(font);
            larger.setText(form.lblProduct->text());
            larger.adjustSize();
            QVERIFY(!Fits(&larger));
        }
    }

    void AddressesOpenInTheDefaultHandlerAndTheBoxStays() {
        TAboutForm form(Info("Tovel"));
        std::vector<std::string> opened;
        form.OpenAddress = [&](const std::string& address) { opened.push_back(address); };
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QTest::mouseClick(form.lblSite, Qt::LeftButton);
        QTest::mouseClick(form.lblMail, Qt::LeftButton);
        QTest::mouseClick(form.lblVersion, Qt::LeftButton);
        QCOMPARE(opened, std::vector<std::string>(
                             {"https://tovelsoft.example/", "https://tovelsoft.example/contacts/"}));
        QVERIFY(form.isVisible());
    }

    void CloseIsBothTheDefaultAndTheCancelButton() {
        QVERIFY(TAboutForm(Info("Tovel")).btnClose->isDefault());
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            TAboutForm form(Info("Tovel"));
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QTest::keyClick(&form, key);
            QVERIFY(!form.isVisible());
        }

        // ShowAbout returns once the box is closed.
        QString shown;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            shown = box->windowTitle();
            QTest::keyClick(box, Qt::Key_Escape);
        });
        ShowAbout(Info("Tovel"));
        QCOMPARE(shown, QString("About"));
    }
};

TOVEL_UI_TEST_MAIN(AboutTest)
#include "AboutTest.moc"
