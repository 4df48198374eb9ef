#include "app/AboutForm.h"

#include "ui/AppResources.h"

#include <QDesktopServices>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int FormWidth = 400;

const char* const CreditsText =
    "<p><b>Credits</b></p>"
    "<p>Made with the Quennick application framework.</p>"
    "<p>Built on Qt, PulseAudio, libzip, PCRE2, zlib and libcurl.</p>"
    "<p>Thanks to everyone who tried the early versions and sent ideas and fault "
    "reports.</p>";

}  // namespace

TAboutForm::TAboutForm(const QString& productName, const QString& versionText, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      FProductName(productName), FVersionText(versionText) {
    InitAppResources();
    setObjectName("AboutForm");
    setWindowTitle("About " + productName);
    setWindowIcon(ResourceIcon("MainIcon"));
    setFixedWidth(FormWidth);
    resize(FormWidth, ShortHeight);

    // The panels are placed by hand: the window's height decides how much shows, and the
    // credits panel lies below the visible part until "&Credits" uncovers it.
    PanelTop = new QFrame(this);
    PanelTop->setObjectName("PanelTop");
    PanelTop->setFrameShape(QFrame::Box);
    PanelTop->setGeometry(0, 0, FormWidth, ShortHeight);
    auto* top = new QVBoxLayout(PanelTop);
    top->setContentsMargins(8, 8, 8, 8);

    PanelInfo = new QFrame(PanelTop);
    PanelInfo->setObjectName("PanelInfo");
    PanelInfo->setFrameShape(QFrame::StyledPanel);
    PanelInfo->setFrameShadow(QFrame::Sunken);
    auto* info = new QHBoxLayout(PanelInfo);
    const QPixmap picture = ResourceIcon("MainIcon").pixmap(64, 64);
    ImageLeft = new QLabel(PanelInfo);
    ImageLeft->setObjectName("ImageLeft");
    ImageLeft->setPixmap(picture);
    ImageRight = new QLabel(PanelInfo);
    ImageRight->setObjectName("ImageRight");
    ImageRight->setPixmap(picture);
    auto* texts = new QVBoxLayout;
    LabelProductName = new QLabel(PanelInfo);
    LabelProductName->setObjectName("LabelProductName");
    QFont big = LabelProductName->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    LabelProductName->setFont(big);
    LabelVersion = new QLabel(PanelInfo);
    LabelVersion->setObjectName("LabelVersion");
    LabelWeb = new QLabel(PanelInfo);
    LabelWeb->setObjectName("LabelWeb");
    LabelWeb->setText(QString("<a href=\"%1\">%2</a>")
                          .arg(QuennickWebSite, QUrl(QuennickWebSite).host()));
    LabelWeb->setTextInteractionFlags(Qt::NoTextInteraction);
    LabelWeb->setCursor(Qt::PointingHandCursor);
    LabelWeb->setToolTip(QString(QuennickWebSite));
    for (QLabel* l : {LabelProductName, LabelVersion, LabelWeb}) {
        l->setAlignment(Qt::AlignCenter);
        texts->addWidget(l);
    }
    info->addWidget(ImageLeft);
    info->addLayout(texts, 1);
    info->addWidget(ImageRight);
    top->addWidget(PanelInfo, 1);

    auto* buttons = new QHBoxLayout;
    ButtonCredits = new QPushButton("&Credits", PanelTop);
    ButtonCredits->setObjectName("ButtonCredits");
    ButtonOK = new QPushButton("OK", PanelTop);
    ButtonOK->setObjectName("ButtonOK");
    ButtonOK->setDefault(true);
    buttons->addWidget(ButtonCredits);
    buttons->addStretch(1);
    buttons->addWidget(ButtonOK);
    top->addLayout(buttons);
    connect(ButtonOK, &QPushButton::clicked, this, &TAboutForm::ButtonOKClick);
    connect(ButtonCredits, &QPushButton::clicked, this, &TAboutForm::ButtonCreditsClick);

    PanelCredits = new QFrame(this);
    PanelCredits->setObjectName("PanelCredits");
    PanelCredits->setFrameShape(QFrame::Box);
    PanelCredits->setGeometry(0, ShortHeight, FormWidth, CreditsHeight - ShortHeight);
    auto* credits = new QVBoxLayout(PanelCredits);
    auto* creditsText = new QLabel(CreditsText, PanelCredits);
    creditsText->setObjectName("LabelCredits");
    creditsText->setWordWrap(true);
    creditsText->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    credits->addWidget(creditsText);

    // Keys reach the form before its controls; clicks on the pictures, texts and panels
    // close it.
    installEventFilter(this);
    for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
}

void TAboutForm::showEvent(QShowEvent* event) {
    resize(FormWidth, ShortHeight);
    LabelVersion->setText("Version " + FVersionText);
    LabelProductName->setText(FProductName);
    const QPixmap picture = ResourceIcon("MainIcon").pixmap(64, 64);
    ImageLeft->setPixmap(picture);
    ImageRight->setPixmap(picture);
    if (QScreen* s = screen()) {
        QRect r(QPoint(), size());
        r.moveCenter(s->availableGeometry().center());
        move(r.topLeft());
    }
    QWidget::showEvent(event);
}

void TAboutForm::ButtonOKClick() { close(); }

void TAboutForm::ButtonCreditsClick() { resize(FormWidth, CreditsHeight); }

void TAboutForm::LabelWebClick() {
    QDesktopServices::openUrl(QUrl(QuennickEMail));
    QDesktopServices::openUrl(QUrl(QuennickWebSite));
}

void TAboutForm::keyPressEvent(QKeyEvent* event) {
    event->accept();
    close();
}

bool TAboutForm::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Every key is the form's, mnemonics and default buttons included.
            event->accept();
            return true;
        case QEvent::KeyPress:
            keyPressEvent(static_cast<QKeyEvent*>(event));
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease: {
            const bool closes = watched == PanelTop || watched == PanelInfo ||
                                watched == ImageLeft || watched == ImageRight ||
                                watched == LabelProductName || watched == LabelVersion;
            if (watched != LabelWeb && !closes) break;
            // Acts on the release of a press that began on the same control.
            if (event->type() == QEvent::MouseButtonRelease) {
                if (watched == LabelWeb) LabelWebClick();
                else close();
            }
            return true;
        }
        default: break;
    }
    return QWidget::eventFilter(watched, event);
}
