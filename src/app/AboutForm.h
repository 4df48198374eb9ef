// The about box: product name, version, the maker's address and the credits.
//
// A borderless window that stays on top, centred on the screen. It is made once and
// only shown and hidden afterwards: "OK", any key, or a click on the pictures, the name,
// the version or the panels around them hide it; "&Credits" uncovers the credits panel.
#pragma once

#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;

// The maker's addresses.
inline constexpr const char* QuennickWebSite = "https://quennick.example/";
inline constexpr const char* QuennickEMail = "mailto:info@quennick.example";
// The product's version text.
inline constexpr const char* BrevantaVersion = "1.35";

class TAboutForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int ShortHeight = 179;
    static constexpr int CreditsHeight = 371;

    explicit TAboutForm(const QString& productName = "Brevanta",
                        const QString& versionText = BrevantaVersion, QWidget* parent = nullptr);

    // Components.
    QFrame* PanelTop = nullptr;
    QFrame* PanelInfo = nullptr;
    QLabel* ImageLeft = nullptr;
    QLabel* ImageRight = nullptr;
    QLabel* LabelProductName = nullptr;
    QLabel* LabelVersion = nullptr;
    QLabel* LabelWeb = nullptr;
    QPushButton* ButtonOK = nullptr;
    QPushButton* ButtonCredits = nullptr;
    QFrame* PanelCredits = nullptr;

    // Event handlers.
    void ButtonOKClick();
    void ButtonCreditsClick();
    void LabelWebClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString FProductName;
    QString FVersionText;
};
