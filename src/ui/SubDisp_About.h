#pragma once
#include <QDialog>
#include <QPixmap>

namespace pmx {

// Version information box. OK (or closing it) deletes it; keeping one instance at a
// time is the opener's business.
class SubDisp_About : public QDialog {
    Q_OBJECT
  public:
    explicit SubDisp_About(QWidget* parent = nullptr);

    // "1.0.1": major, minor and revision in decimal, joined by ".".
    static QString versionText();
    // The program mark at the given edge length: the SVG from the resources when an SVG
    // reader is installed, otherwise the same shape painted here.
    static QPixmap logo(int size);

    void Command1_Click();
    void reject() override;
};

} // namespace pmx
