#include "editor/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace ktv {

QString FileDialogs::Ask(FileQuestion question)
{
    if (!question.Parent)
        question.Parent = window_;
    if (Choose)
        return Choose(question);
    switch (question.Dialog) {
    case FileQuestion::Kind::Open:
        return QFileDialog::getOpenFileName(question.Parent, question.Caption, question.Folder, question.Filters,
                                            question.Selected);
    case FileQuestion::Kind::Save:
        return QFileDialog::getSaveFileName(question.Parent, question.Caption, question.Folder, question.Filters,
                                            question.Selected);
    case FileQuestion::Kind::Folder:
        return QFileDialog::getExistingDirectory(question.Parent, question.Caption, question.Folder);
    }
    return QString();
}

QString FileDialogs::AskRemembered(FileQuestion question)
{
    question.Folder = FolderOf(question.Purpose);
    const QString path = Ask(question);
    if (!path.isEmpty())
        folders_[question.Purpose] = QFileInfo(path).absolutePath();
    return path;
}

QString FileDialogs::Open(const QString& purpose, const QString& caption, const QString& filters, QString* selected,
                          QWidget* parent)
{
    return AskRemembered({FileQuestion::Kind::Open, purpose, caption, filters, {}, selected, parent});
}

QString FileDialogs::Save(const QString& purpose, const QString& caption, const QString& filters, QString* selected,
                          QWidget* parent)
{
    return AskRemembered({FileQuestion::Kind::Save, purpose, caption, filters, {}, selected, parent});
}

QString FileDialogs::Folder(const QString& purpose, const QString& caption, const QString& start)
{
    return Ask({FileQuestion::Kind::Folder, purpose, caption, {}, start, nullptr, nullptr});
}

QString FileDialogs::FolderOf(const QString& purpose) const
{
    const auto it = folders_.find(purpose);
    return it == folders_.end() ? QString() : it->second;
}

void FileDialogs::Load(QSettings& settings)
{
    settings.beginGroup("dialogs");
    for (const QString& purpose : settings.childKeys())
        folders_[purpose] = settings.value(purpose).toString();
    settings.endGroup();
}

void FileDialogs::Store(QSettings& settings) const
{
    settings.beginGroup("dialogs");
    for (const auto& [purpose, folder] : folders_)
        settings.setValue(purpose, folder);
    settings.endGroup();
}

} // namespace ktv
