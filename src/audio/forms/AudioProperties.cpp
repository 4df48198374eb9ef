#include "audio/forms/AudioProperties.h"

#include "audio/MMAudioRouter.h"

#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

TFormAudioProperties::TFormAudioProperties(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName("FormAudioProperties");
    setWindowTitle("Audio Properties");
    setFixedSize(188, 172);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setOrientation(Qt::Vertical);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setGeometry(14, 12, 17, 148);

    TrackBar = new QSlider(Qt::Vertical, this);
    TrackBar->setObjectName("TrackBar");
    TrackBar->setRange(0, 100);
    TrackBar->setTickInterval(10);
    TrackBar->setTickPosition(QSlider::TicksRight);
    TrackBar->setPageStep(10);
    // Position 0 at the top; the arrow keys move the way they point.
    TrackBar->setInvertedAppearance(true);
    TrackBar->setInvertedControls(true);
    TrackBar->setGeometry(38, 8, 45, 156);
    connect(TrackBar, &QSlider::valueChanged, this, [this] { TrackBarChange(); });

    Button1 = new QPushButton("O&k", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    Button1->setGeometry(96, 12, 84, 25);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    Button2 = new QPushButton("Remove Route", this);
    Button2->setObjectName("Button2");
    Button2->setGeometry(96, 44, 84, 25);
    connect(Button2, &QPushButton::clicked, this, [this] { done(mrAbort); });
    // Both buttons as wide as the wider caption needs, at the right edge.
    const int width = std::max({84, Button1->sizeHint().width(), Button2->sizeHint().width()});
    Button1->setGeometry(188 - 6 - width, 12, width, 25);
    Button2->setGeometry(188 - 6 - width, 44, width, 25);
}

TFormAudioProperties::~TFormAudioProperties() { Detach(); }

void TFormAudioProperties::SetRoute(TRouteInfo* route) {
    Detach();
    FRoute = route;
    if (FRoute == nullptr) return;
    TMMAudioIn& in = FRoute->Router().AudioIn();
    QPointer<TFormAudioProperties> self(this);
    in.SetOnLevel([self](TMMAudioIO& sender, int level) {
        if (self) self->SetLevel(sender, level);
    });
    const QSignalBlocker quiet(TrackBar);  // showing the volume does not change it
    TrackBar->setValue(100 - in.Volume());
}

void TFormAudioProperties::TrackBarChange() {
    if (FRoute != nullptr) FRoute->Router().AudioIn().SetVolume(100 - TrackBar->value());
}

void TFormAudioProperties::SetLevel(TMMAudioIO&, int level) { ProgressBar->setValue(std::clamp(level, 0, 100)); }

void TFormAudioProperties::RouteGone(TRouteInfo* route) {
    if (route == nullptr || route != FRoute) return;
    Detach();
    FRoute = nullptr;
    if (isVisible()) reject();
}

void TFormAudioProperties::done(int result) {
    // A closed dialog shows no level.
    Detach();
    QDialog::done(result);
}

void TFormAudioProperties::Detach() {
    if (FRoute != nullptr) FRoute->Router().AudioIn().SetOnLevel(nullptr);
    ProgressBar->setValue(0);
}
