#pragma once

// Shared pieces of the update tests: a small HTTP server on 127.0.0.1 that
// serves canned replies, and helpers to find and answer the message boxes.

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QDesktopServices>
#include <QHash>
#include <QList>
#include <QMessageBox>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QtTest>

namespace UpdaterTest
{

struct Reply
{
    enum Mode
    {
        Length,  // Content-Length and the whole body
        Chunked, // chunked transfer encoding, several chunks
        Cut,        // Content-Length of the whole body, half of it, then the server closes
        ChunkedCut, // chunked, the chunks of half the body, then the server closes
        Hold        // Content-Length of the whole body, half of it less a little, the
                    // rest of the half a moment later, then nothing
    };
    int status = 200;
    QByteArray body;
    Mode mode = Length;
    QList<QPair<QByteArray, QByteArray>> headers;

    static Reply redirect(int status, const QByteArray& location)
    {
        Reply r;
        r.status = status;
        r.headers.append(qMakePair(QByteArray("Location"), location));
        return r;
    }
};

struct Request
{
    QByteArray path;
    QHash<QByteArray, QByteArray> headers; // names in lower case
};

class HttpServer : public QObject
{
public:
    HttpServer()
    {
        QObject::connect(&mServer, &QTcpServer::newConnection, this, [this] { accept(); });
        mServer.listen(QHostAddress::LocalHost, 0);
    }

    void route(const QByteArray& path, const Reply& reply) { mRoutes.insert(path, reply); }
    QString url(const QByteArray& path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(mServer.serverPort()).arg(QString::fromLatin1(path));
    }
    QList<Request> requests() const { return mRequests; }
    QByteArray lastHeader(const QByteArray& name) const
    {
        return mRequests.isEmpty() ? QByteArray() : mRequests.last().headers.value(name);
    }
    int connectionsHeld() const { return mHeld.size(); }
    void releaseHeld()
    {
        for (QTcpSocket* s : mHeld)
            if (s)
                s->disconnectFromHost();
        mHeld.clear();
    }

private:
    void accept()
    {
        while (QTcpSocket* socket = mServer.nextPendingConnection()) {
            auto* buffer = new QByteArray;
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket, buffer] {
                delete buffer;
                socket->deleteLater();
            });
            QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
                buffer->append(socket->readAll());
                const int end = buffer->indexOf("\r\n\r\n");
                if (end >= 0) {
                    const QByteArray head = buffer->left(end);
                    buffer->clear();
                    answer(socket, head);
                }
            });
        }
    }

    void answer(QTcpSocket* socket, const QByteArray& head)
    {
        const QList<QByteArray> lines = head.split('\n');
        Request request;
        request.path = lines.value(0).split(' ').value(1);
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const int colon = line.indexOf(':');
            if (colon > 0)
                request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        mRequests.append(request);

        Reply reply;
        if (mRoutes.contains(request.path)) {
            reply = mRoutes.value(request.path);
        } else {
            reply.status = 404;
            reply.body = "not here";
        }
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Canned\r\n";
        out += "Connection: close\r\n";
        for (const auto& h : reply.headers)
            out += h.first + ": " + h.second + "\r\n";
        if (reply.mode == Reply::Chunked || reply.mode == Reply::ChunkedCut) {
            out += "Transfer-Encoding: chunked\r\n\r\n";
            const bool whole = reply.mode == Reply::Chunked;
            const int end = whole ? reply.body.size() : reply.body.size() / 2;
            const int step = qMax(1, reply.body.size() / 5 + 1);
            for (int at = 0; at < end; at += step) {
                const QByteArray chunk = reply.body.mid(at, qMin(step, end - at));
                out += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
            }
            if (whole)
                out += "0\r\n\r\n";
        } else {
            out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n";
            if (reply.mode == Reply::Length)
                out += reply.body;
            else if (reply.mode == Reply::Cut)
                out += reply.body.left(reply.body.size() / 2);
            else
                out += reply.body.left(qMax(0, reply.body.size() / 2 - HOLD_TAIL));
        }
        socket->write(out);
        if (reply.mode != Reply::Hold) {
            socket->disconnectFromHost();
            return;
        }
        mHeld.append(socket);
        // The client reports progress at most every 100 ms, so a burst that
        // arrives at once is never reported while the reply runs. The small
        // tail comes in one piece well after that, and is reported.
        const int half = reply.body.size() / 2;
        const QByteArray rest = reply.body.mid(qMax(0, half - HOLD_TAIL), qMin(half, HOLD_TAIL));
        QPointer<QTcpSocket> held(socket);
        QTimer::singleShot(300, this, [held, rest] {
            if (held)
                held->write(rest);
        });
    }

    static constexpr int HOLD_TAIL = 1000;
    QTcpServer mServer;
    QHash<QByteArray, Reply> mRoutes;
    QList<Request> mRequests;
    QList<QPointer<QTcpSocket>> mHeld;
};

// A port on 127.0.0.1 that nothing listens on.
inline quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

inline QList<QMessageBox*> visibleBoxes()
{
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w))
            if (box->isVisible())
                boxes.append(box);
    return boxes;
}

// The one box that appears within a few seconds, or null.
inline QMessageBox* waitForBox()
{
    (void)QTest::qWaitFor([] { return !visibleBoxes().isEmpty(); }, 10000);
    const QList<QMessageBox*> boxes = visibleBoxes();
    return boxes.size() == 1 ? boxes.first() : nullptr;
}

inline void answer(QMessageBox* box, QMessageBox::StandardButton button)
{
    QVERIFY(box);
    QAbstractButton* b = box->button(button);
    QVERIFY2(b, "the box lacks that button");
    b->click();
    (void)QTest::qWaitFor([box] { return !box->isVisible(); }, 5000);
}

inline void closeAllBoxes()
{
    for (QMessageBox* box : visibleBoxes())
        box->close();
    QCoreApplication::processEvents();
}

// Records every address handed to the desktop for opening.
class OpenedUrls : public QObject
{
    Q_OBJECT
public:
    OpenedUrls()
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "open");
    }
    ~OpenedUrls() override
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
    }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

}
