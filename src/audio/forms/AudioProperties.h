// The route properties dialog: the route's recording level, its volume and a way to
// remove it.
//
// The track bar runs from 0 at the top (full volume, the sound unchanged) to 100 at the
// bottom (silence): the route's volume is 100 - the track bar's position. "O&k" closes
// with Accepted and keeps the route; "Remove Route" closes with mrAbort, after which the
// router window removes the route; the close button of the title bar keeps it too.
//
// The dialog listens to the route's recording level only while it is shown: closing or
// destroying it detaches its level receiver, and the router window tells it (RouteGone)
// when the route it shows goes away, so no level ever reaches a dialog that is gone and
// the dialog never touches a route that is gone.
#pragma once

#include <QDialog>

class QProgressBar;
class QPushButton;
class QSlider;
class TMMAudioIO;
class TRouteInfo;

class TFormAudioProperties : public QDialog {
    Q_OBJECT
public:
    // The result of "Remove Route".
    static constexpr int mrAbort = 3;

    explicit TFormAudioProperties(QWidget* parent = nullptr);
    ~TFormAudioProperties() override;

    QProgressBar* ProgressBar = nullptr;
    QSlider* TrackBar = nullptr;
    QPushButton* Button1 = nullptr;  // "O&k"
    QPushButton* Button2 = nullptr;  // "Remove Route"

    // The route shown (not owned); null when none.
    TRouteInfo* Route() const { return FRoute; }
    // Shows the route: its level from now on, its volume on the track bar.
    void SetRoute(TRouteInfo* route);
    // The route is about to be freed: forget it, and close when it is shown.
    void RouteGone(TRouteInfo* route);

    void TrackBarChange();
    void SetLevel(TMMAudioIO& sender, int level);

    void done(int result) override;

private:
    void Detach();

    TRouteInfo* FRoute = nullptr;
};
