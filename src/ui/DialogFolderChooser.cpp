#include "DialogFolderChooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>

std::optional<FilePath> DialogFolderChooser::chooseFolder(const FilePath& startIn, const QString& confirmTitle)
{
    QPointer<QFileDialog> dialog = new QFileDialog(QApplication::activeWindow(), QStringLiteral("Архивная папка"),
                                                   startIn.toString());
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, confirmTitle);
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("Отмена"));
    dialog->setWindowModality(Qt::ApplicationModal);
    const int answer = dialog->exec();
    // The dialog is gone if its parent window closed while it was open.
    if (!dialog)
        return std::nullopt;
    const QStringList selected = dialog->selectedFiles();
    delete dialog;
    if (answer != QDialog::Accepted || selected.isEmpty() || selected.constFirst().isEmpty())
        return std::nullopt;
    return FilePath::fromString(selected.constFirst());
}
