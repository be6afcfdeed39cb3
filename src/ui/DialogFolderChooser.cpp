#include "DialogFolderChooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>

std::optional<FilePath> DialogFolderChooser::chooseFolder(const FilePath& startIn, const QString& confirmTitle)
{
    QPointer<QFileDialog> dialog = new QFileDialog(QApplication::activeWindow(), QStringLiteral("Архивная папка"),
                                                   startIn.toString());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, confirmTitle);
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("Отмена"));
    dialog->setWindowModality(Qt::ApplicationModal);
    const int answer = dialog->exec();
    // The dialog may be gone if its parent window closed while it was open.
    if (!dialog || answer != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = dialog->selectedFiles().constFirst();
    return chosen.isEmpty() ? std::nullopt : std::optional<FilePath>(FilePath::fromString(chosen));
}
