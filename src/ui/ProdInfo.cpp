#include "ui/ProdInfo.h"

#include <QSettings>

TProductInfo ProductInfo;

void FillProductInfo() {
    ProductInfo.Title = "Tovel RSS Reader";
    ProductInfo.Version = "1.00";
    ProductInfo.SiteURL = "https://tovelsoft.example/";
    ProductInfo.ContactsURL = "https://tovelsoft.example/contacts/";
    ProductInfo.Company = "Tovelsoft";
    ProductInfo.LegalNotice = "Copyright (c) Tovelsoft. All rights reserved.";
}

QSettings& Settings() {
    static QSettings settings("tovelsoft", "Pelmora");
    return settings;
}
