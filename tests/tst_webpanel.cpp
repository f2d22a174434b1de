// The real web panel asks the information server for its page.

#include "app/ui/WebAddresses.h"
#include "app/web/WebEngineWebPanel.h"

#include <QApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWidget>

using namespace morvane;

class TestWebPanel : public QObject {
    Q_OBJECT
private slots:
    void requestsInfoPage();
};

void TestWebPanel::requestsInfoPage()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QByteArray request;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [&request, socket] {
            request += socket->readAll();
            if (request.contains("\r\n\r\n")) {
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 11\r\n"
                              "Connection: close\r\n\r\n<p>info</p>");
                socket->disconnectFromHost();
            }
        });
    });

    WebEngineWebPanel panel;
    QWidget *view = panel.widget();
    view->resize(641, 89);
    view->show();
    QUrl server_base(QStringLiteral("http://127.0.0.1"));
    server_base.setPort(server.serverPort());
    panel.navigate(web::infoPage(server_base));

    QTRY_VERIFY_WITH_TIMEOUT(request.contains("\r\n\r\n"), 30000);
    const QByteArray firstLine = request.left(request.indexOf("\r\n"));
    QCOMPARE(firstLine, QByteArray("GET /info.php?n=morvane HTTP/1.1"));
    delete view;
}

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestWebPanel test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_webpanel.moc"
