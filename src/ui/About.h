#pragma once

#include <QDialog>

#include <functional>
#include <string>

#include "ui/ProdInfo.h"

class QFrame;
class QLabel;
class QPushButton;

// The about box: icon, title, version, the site and contacts addresses (clickable) and the legal
// notice, all from the product information.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    // Builds and fills the box; it keeps its own copies of the texts it shows.
    explicit TAboutForm(const TProductInfo& info, QWidget* parent = nullptr);

    // Opens the web site, respectively the contacts page, in the default handler; the box stays.
    void lblSiteClick();
    void lblMailClick();

    // Hands an address to the desktop's default handler; a failure is not reported. Tests put
    // their own in its place.
    std::function<void(const std::string&)> OpenAddress;

    QLabel* ProductImage;
    QLabel* lblProduct;
    QLabel* lblVersion;
    QLabel* Label2;
    QLabel* lblMail;
    QLabel* Label3;
    QLabel* lblSite;
    QFrame* Bevel1;
    QLabel* lblCopyright;
    QPushButton* btnClose;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::string FTitle;
    std::string FVersion;
    std::string FSiteURL;
    std::string FContactsURL;
    std::string FLegalNotice;
};

// Shows the about box modally, centred on parent, and destroys it when it is closed.
void ShowAbout(TProductInfo info, QWidget* parent = nullptr);
