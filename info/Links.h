#pragma once
// The maker's web site, its pages and the support address, and the one way
// the program hands an address to the desktop.

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

inline const QString MakerSite = QStringLiteral("https://www.vekor.example/");
inline const QString SupportMailAddress = QStringLiteral("support@vekor.example");

// The product page, optionally at an anchor such as "#help" or "#faq".
QString ProductPageUrl(const QString &anchor = QString());
QString ProductsPageUrl();

// Opens an address (or a page name relative to the maker's site) in the
// desktop's browser. Whether that worked is not examined.
void OpenWebPage(const QString &page);

// The maker's site is no real one (".example" never resolves): its pages
// stand for the documentation installed with the program, the README (for
// the FAQ too), else the man page. What opens in place of page (unchanged
// when it is a real address or no documentation is installed).
// documentation: the folder the README is installed in.
QUrl InstalledDocumentFor(const QUrl &page, const QString &documentation);
// <prefix>/share/doc/tarvo2 beside the running program.
QString InstalledDocumentation();

// Starts a new mail: "mailto:" + address + "?subject=" + subject + "&Body="
// + body, with subject and body inserted as they are. owner is not used on
// this platform; it is there for callers that have a window at hand.
void OpenMailTo(QWidget *owner, const QString &address, const QString &subject,
                const QString &body);

// Who opens addresses: the desktop by default; tests put a recorder here so
// that no browser or mail program starts. An empty function restores the
// default.
using UrlOpener = std::function<bool(const QUrl &)>;
void SetUrlOpener(UrlOpener opener);
