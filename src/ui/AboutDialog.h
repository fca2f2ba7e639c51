#pragma once
#include <QDialog>
#include <QPixmap>

namespace pmx {

// Version information box. OK (or closing it) deletes it; keeping one instance at a
// time is the opener's business.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // "1.0.1": major, minor and revision in decimal, joined by ".".
    static QString versionText();
    // The program mark (resources/logo.svg) at the given edge length.
    static QPixmap logo(int size);

    // OK, Escape and the close button end the box.
    void accept() override;
    void reject() override;
};

} // namespace pmx
