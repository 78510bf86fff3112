#pragma once

#include <QString>

// The maker of Velvane, as the web page tab, the help menu and the about box name it. The
// addresses use the reserved .example domain until the studio has a site of its own.
namespace Maker {

inline const QString kName = QStringLiteral("Quorvale工作室");
inline const QString kHomePage = QStringLiteral("https://quorvale.example/velvane/");
inline const QString kSupportMail = QStringLiteral("support@quorvale.example");

}  // namespace Maker
