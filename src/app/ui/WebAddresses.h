#pragma once
// The web addresses the window knows of, in one place.

#include <QUrl>
#include <QUrlQuery>

namespace morvane::web {

inline QUrl makerSite() { return QUrl(QStringLiteral("https://morvane.example")); }
inline QUrl infoServer() { return QUrl(QStringLiteral("https://info.morvane.example")); }

inline QUrl homePage(QUrl site = makerSite())
{
    site.setPath(QStringLiteral("/"));
    return site;
}

inline QUrl codecPage(QUrl site = makerSite())
{
    site.setPath(QStringLiteral("/codecdownload.html"));
    return site;
}

inline QUrl infoPage(QUrl server = infoServer())
{
    server.setPath(QStringLiteral("/info.php"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("n"), QStringLiteral("morvane"));
    server.setQuery(query);
    return server;
}

} // namespace morvane::web
