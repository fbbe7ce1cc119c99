#include "ui/About.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>

#include "ui/QtText.h"

namespace {

// The box's client area, and the box the title must fit in.
constexpr int kWidth = 352;
constexpr int kHeight = 243;
constexpr int kTitleWidth = 260;
constexpr int kTitleHeight = 35;

QFont ArialPixels(int pixels, bool bold = false) {
    QFont font("Arial");
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QLabel* PlainLabel(QWidget* parent, const QString& text, const QFont& font, int x, int y) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    label->setText(text);
    label->move(x, y);
    label->adjustSize();
    return label;
}

// An address that looks and acts like a link: blue, underlined, the hand cursor.
QLabel* AddressLabel(QWidget* parent, const QString& text, int x, int y) {
    QFont font = ArialPixels(12);
    font.setUnderline(true);
    QLabel* label = PlainLabel(parent, text, font, x, y);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    label->setPalette(palette);
    label->setCursor(Qt::PointingHandCursor);
    label->setMaximumWidth(kWidth - x - 8);
    return label;
}

} // namespace

TAboutForm::TAboutForm(const TProductInfo& info, QWidget* parent)
    : QDialog(parent),
      OpenAddress([](const std::string& address) { QDesktopServices::openUrl(QUrl(ToQt(address))); }),
      FTitle(info.Title), FVersion(info.Version), FSiteURL(info.SiteURL), FContactsURL(info.ContactsURL),
      FLegalNotice(info.LegalNotice) {
    setObjectName("AboutForm");
    setWindowTitle("About");
    setFixedSize(kWidth, kHeight);

    ProductImage = new QLabel(this);
    ProductImage->setGeometry(8, 8, 32, 32);
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = QIcon(":/images/feed.svg");
    ProductImage->setPixmap(icon.pixmap(32, 32));

    // The title starts at 27 pixels and loses one point at a time until it fits its box.
    QFont titleFont = ArialPixels(27, true);
    titleFont.setUnderline(true);
    lblProduct = PlainLabel(this, ToQt(FTitle), titleFont, 48, 8);
    while ((lblProduct->width() > kTitleWidth || lblProduct->height() > kTitleHeight)) {
        const int points = QFontInfo(titleFont).pointSize();
        if (points <= 1)
            break;
        titleFont.setPointSize(points - 1);
        lblProduct->setFont(titleFont);
        lblProduct->adjustSize();
    }

    lblVersion = PlainLabel(this, ToQt("Version: " + FVersion), ArialPixels(12, true), 48, 50);
    Label2 = PlainLabel(this, "Contacts:", ArialPixels(12), 48, 86);
    lblMail = AddressLabel(this, ToQt(FContactsURL), 112, 86);
    Label3 = PlainLabel(this, "Website:", ArialPixels(12), 48, 106);
    lblSite = AddressLabel(this, ToQt(FSiteURL), 112, 106);
    lblMail->installEventFilter(this);
    lblSite->installEventFilter(this);

    Bevel1 = new QFrame(this);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 150, kWidth - 16, 2);

    lblCopyright = PlainLabel(this, ToQt(FLegalNotice), ArialPixels(11), 0, 160);
    lblCopyright->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblCopyright->setWordWrap(true);
    lblCopyright->setGeometry(0, 160, kWidth, 36);

    btnClose = new QPushButton("Close", this);
    btnClose->setGeometry((kWidth - 75) / 2, 205, 75, 25);
    // Enter presses it; Esc closes a dialog by itself, so it is the cancel button as well.
    btnClose->setDefault(true);
    btnClose->setAutoDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutForm::lblSiteClick() {
    if (OpenAddress)
        OpenAddress(FSiteURL);
}

void TAboutForm::lblMailClick() {
    if (OpenAddress)
        OpenAddress(FContactsURL);
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == lblSite)
            lblSiteClick();
        else if (watched == lblMail)
            lblMailClick();
    }
    return QDialog::eventFilter(watched, event);
}

void ShowAbout(TProductInfo info, QWidget* parent) {
    TAboutForm form(info, parent);
    form.exec();
}
