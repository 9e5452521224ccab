#pragma once

// A web server on 127.0.0.1 that answers each path with a canned reply, and
// remembers the user agent of every request.
#include <QtNetwork>

struct Reply {
    enum Mode {
        Whole,      // Content-Length and the whole body
        Chunked,    // chunked transfer encoding, five chunks
        Cut,        // Content-Length of the whole body, half of it, then the server closes
        ChunkedCut, // the chunks of half the body, then the server closes
        Stall       // Content-Length, half the body (its last 1000 bytes 300 ms later), then nothing
    };
    int status = 200;
    QByteArray body;
    Mode mode = Whole;
    QByteArray location;
    QByteArray encoding; // Content-Encoding, sent whatever the client accepts
};

class HttpServer : public QTcpServer {
public:
    QHash<QByteArray, Reply> routes; // by path; others get 404
    QList<QByteArray> userAgents;    // one per request

    HttpServer() { listen(QHostAddress::LocalHost); }

    QString url(const QByteArray& path) const { return QString("http://127.0.0.1:%1%2").arg(serverPort()).arg(QString(path)); }

private:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (socket->peek(1 << 16).contains("\r\n\r\n"))
                answer(socket, socket->readAll());
        });
    }

    void answer(QTcpSocket* socket, const QByteArray& head) {
        const int agent = head.indexOf("\r\nUser-Agent: ");
        userAgents.append(agent < 0 ? QByteArray() : head.mid(agent + 14).split('\r').first());
        const Reply r = routes.value(head.split(' ').value(1), Reply {404, "not here"});
        const bool chunked = r.mode == Reply::Chunked || r.mode == Reply::ChunkedCut;
        const int half = r.body.size() / 2;
        const int sent = r.mode == Reply::Whole || r.mode == Reply::Chunked ? r.body.size()
            : r.mode == Reply::Stall                                        ? qMax(0, half - 1000)
                                                                            : half;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(r.status) + " Canned\r\nConnection: close\r\n";
        out += r.location.isEmpty() ? QByteArray() : "Location: " + r.location + "\r\n";
        out += r.encoding.isEmpty() ? QByteArray() : "Content-Encoding: " + r.encoding + "\r\n";
        out += chunked ? "Transfer-Encoding: chunked\r\n\r\n" : "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n\r\n";
        for (int at = 0, step = r.body.size() / 5 + 1; at < sent; at += step) {
            const QByteArray piece = r.body.mid(at, qMin(step, sent - at));
            out += chunked ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n" : piece;
        }
        socket->write(r.mode == Reply::Chunked ? out + "0\r\n\r\n" : out);
        // A stalled reply keeps the connection open. Progress is reported at
        // most every 100 ms, so a burst that arrives at once is not reported
        // while the reply runs; the tail, later, is.
        if (r.mode == Reply::Stall)
            QTimer::singleShot(300, socket, [socket, tail = r.body.mid(sent, half - sent)] { socket->write(tail); });
        else
            socket->disconnectFromHost();
    }
};
