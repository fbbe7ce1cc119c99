#include "ui/ProdInfo.h"

#include <QSettings>

#include "platform/ProductName.h"

TProductInfo ProductInfo;

void FillProductInfo() {
    ProductInfo.Title = kProductTitle;
    ProductInfo.Version = kProductVersion;
    ProductInfo.SiteURL = kProductSiteURL;
    ProductInfo.ContactsURL = "https://tovelsoft.example/contacts/";
    ProductInfo.Company = "Tovelsoft";
    ProductInfo.LegalNotice = "Copyright (c) Tovelsoft. All rights reserved.";
}

QSettings& Settings() {
    static QSettings settings("tovelsoft", "Pelmora");
    return settings;
}
