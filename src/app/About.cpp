#include "app/About.h"

#include "app/Theme.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

namespace ktv {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName("AboutBox");
    setWindowTitle(tr("About"));
    setFixedSize(200, 185);
    setModal(true);

    auto* picture = new QLabel(this);
    picture->setObjectName("Panel1");
    picture->setGeometry(0, 0, 200, 185);
    picture->setScaledContents(true);
    picture->setPixmap(ProductPicture(200, 185));
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* name = new QLabel(ProductName, this);
    name->setObjectName("ProductName");
    name->setGeometry(0, 116, 200, 28);
    name->setAlignment(Qt::AlignCenter);
    QFont f = name->font();
    f.setBold(true);
    f.setPixelSize(16);
    name->setFont(f);
    name->setStyleSheet("QLabel { color: white; background: transparent; }");
    name->setAttribute(Qt::WA_TransparentForMouseEvents);

    // The version and the licence, which the package's copyright file and
    // COPYING give in full.
    const QString lines[] = {tr("Version %1").arg(QStringLiteral(KTV_VERSION)),
                             tr("Licence: GPL-3.0-or-later")};
    const char* names[] = {"Version", "Licence"};
    for (int i = 0; i < 2; ++i) {
        auto* line = new QLabel(lines[i], this);
        line->setObjectName(names[i]);
        line->setGeometry(0, 144 + 17 * i, 200, 17);
        line->setAlignment(Qt::AlignCenter);
        QFont small = line->font();
        small.setPixelSize(11);
        line->setFont(small);
        line->setStyleSheet("QLabel { color: white; background: transparent; }");
        line->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
}

void TAboutBox::Panel1Click() { accept(); }

void TAboutBox::mousePressEvent(QMouseEvent*) { Panel1Click(); }

void TAboutBox::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

} // namespace ktv
