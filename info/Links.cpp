#include "info/Links.h"

#include <QDesktopServices>

namespace {

UrlOpener &CurrentOpener()
{
    static UrlOpener opener;
    return opener;
}

void OpenUrl(const QUrl &url)
{
    if (const UrlOpener &opener = CurrentOpener())
        opener(url);
    else
        QDesktopServices::openUrl(url);
}

} // namespace

QString ProductPageUrl(const QString &anchor)
{
    return MakerSite + QStringLiteral("tarvo2.php") + anchor;
}

QString ProductsPageUrl()
{
    return MakerSite + QStringLiteral("products.php");
}

void OpenWebPage(const QString &page)
{
    QUrl url(page);
    if (url.isRelative())
        url = QUrl(MakerSite).resolved(url);
    OpenUrl(url);
}

void OpenMailTo(QWidget *owner, const QString &address, const QString &subject, const QString &body)
{
    Q_UNUSED(owner)
    OpenUrl(QUrl(QStringLiteral("mailto:") + address + QStringLiteral("?subject=") + subject +
                 QStringLiteral("&Body=") + body));
}

void SetUrlOpener(UrlOpener opener)
{
    CurrentOpener() = std::move(opener);
}
