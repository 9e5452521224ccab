#pragma once

#include <QHash>
#include <QPointer>
#include <QWidget>

class ArborBallWidget;
class ArborView;
class CardWidget;

// A transparent layer over the whole display that draws a faint dotted line
// from each sounding ball to its card. It never takes mouse input.
class CardConnectorOverlay : public QWidget
{
    Q_OBJECT

public:
    explicit CardConnectorOverlay(QWidget* parent = nullptr);

    void init(const ArborView* view);
    void addConnector(const ArborBallWidget* ball, const CardWidget* card);
    void removeConnector(const ArborBallWidget* ball);
    int connectorCount() const { return mConnectors.size(); }
    bool hasConnector(const ArborBallWidget* ball) const { return mConnectors.contains(ball); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Connector
    {
        QPointer<const ArborBallWidget> ball;
        QPointer<const CardWidget> card;
    };
    QHash<const ArborBallWidget*, Connector> mConnectors;
    const ArborView* mView = nullptr;
};
