#pragma once
// The window's file dialogs in one place: each purpose ("Open", "Import",
// "FitTarget", ...) starts in the folder where it last found a file, and
// those folders are kept between runs. Tests answer the dialogs through
// Choose instead of a person.

#include <QString>

#include <functional>
#include <map>

class QSettings;
class QWidget;

namespace ktv {

// One dialog about to be shown.
struct FileQuestion {
    enum class Kind { Open, Save, Folder };
    Kind Dialog = Kind::Open;
    QString Purpose; // the name its folder is remembered under
    QString Caption;
    QString Filters;           // as QFileDialog takes them, ";;" between
    QString Folder;            // where it starts; empty: the working folder
    QString* Selected = nullptr; // the chosen filter, in and out
    QWidget* Parent = nullptr;
};

class FileDialogs {
public:
    explicit FileDialogs(QWidget* window) : window_(window) {}

    // The chosen file's path, empty when cancelled. `parent` (default: the
    // window) is the widget the dialog is shown over.
    QString Open(const QString& purpose, const QString& caption, const QString& filters, QString* selected = nullptr,
                 QWidget* parent = nullptr);
    QString Save(const QString& purpose, const QString& caption, const QString& filters, QString* selected = nullptr,
                 QWidget* parent = nullptr);
    // A folder, starting in `start`; the caller keeps what was chosen.
    QString Folder(const QString& purpose, const QString& caption, const QString& start);

    // Where the purpose's dialog starts: the folder of its last file.
    QString FolderOf(const QString& purpose) const;
    void Load(QSettings& settings);
    void Store(QSettings& settings) const;

    // Shows the dialog; tests put their own answer in. Empty: cancelled.
    std::function<QString(const FileQuestion&)> Choose;

private:
    QString Ask(FileQuestion question);
    QString AskRemembered(FileQuestion question);

    QWidget* window_;
    std::map<QString, QString> folders_;
};

} // namespace ktv
