#include "app/Help.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace ktv {

THelpBox::THelpBox(QWidget* parent) : QDialog(parent)
{
    setObjectName("HelpBox");
    setWindowTitle(tr("KTV Tune user guide"));
    resize(560, 520);
    text_ = new QTextBrowser(this);
    text_->setObjectName("HelpText");
    text_->setOpenExternalLinks(false);
    // Each translation names the guide written in its language.
    text_->setSource(QUrl(QStringLiteral("qrc:/help/") + tr("guide.html", "file name of the user guide in this language")));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(buttons);
}

} // namespace ktv
